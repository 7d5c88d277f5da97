#include "ads/services/content.h"

QMAContentConstants QMAContentConstants::fromUserDefaults() { return {}; }
