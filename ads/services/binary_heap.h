#pragma once
// A min-heap of shared objects ordered by a three-way comparison (negative: less, zero:
// equal, positive: greater). The heap holds a strong reference to each element while
// the element is in it.

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

template <class T>
class QMABinaryHeap {
 public:
  using Comparator = std::function<int(const T&, const T&)>;

  // Without a comparator the elements order themselves with `a.compare(b)`.
  QMABinaryHeap() = default;
  explicit QMABinaryHeap(Comparator comparator) : comparator_(std::move(comparator)) {}

  void addObject(std::shared_ptr<T> object) {
    if (!object) return;
    elements_.push_back(std::move(object));
    std::push_heap(elements_.begin(), elements_.end(), greater());
  }
  bool containsObject(const std::shared_ptr<T>& object) const {
    if (!object) return false;
    return std::any_of(elements_.begin(), elements_.end(),
                       [&](const std::shared_ptr<T>& e) { return compare(*e, *object) == 0; });
  }
  std::uint64_t count() const { return elements_.size(); }
  std::shared_ptr<T> minimum() const { return elements_.empty() ? nullptr : elements_.front(); }
  std::shared_ptr<T> removedMinimum() {
    if (elements_.empty()) return nullptr;
    std::pop_heap(elements_.begin(), elements_.end(), greater());
    auto min = std::move(elements_.back());
    elements_.pop_back();
    return min;
  }
  std::vector<std::shared_ptr<T>> sortedObjects() const {
    auto sorted = elements_;
    std::sort(sorted.begin(), sorted.end(),
              [this](const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) { return compare(*a, *b) < 0; });
    return sorted;
  }

 private:
  // std::*_heap build max-heaps; ordering by "greater" puts the minimum at the front.
  auto greater() const {
    return [this](const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) { return compare(*a, *b) > 0; };
  }
  int compare(const T& a, const T& b) const {
    if (comparator_) return comparator_(a, b);
    if constexpr (requires { a.compare(b); }) {
      return a.compare(b);
    } else {
      return 0;
    }
  }

  Comparator comparator_;
  std::vector<std::shared_ptr<T>> elements_;
};
