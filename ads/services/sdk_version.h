#pragma once
// The version text every request, report and ping of the ad component carries.

inline constexpr const char* kQMASDKVersion = "qvra-sdk-i-v7.4.1";
