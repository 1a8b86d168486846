#pragma once
// A COM enumerator (IEnumConnectionPoints, IEnumConnections, ...) over a
// snapshot taken when it is made: later changes to the source do not move it.
// Each item holds its references; `copy` gives the caller its own.
#include <windows.h>
#include <ocidl.h>

#include <new>
#include <vector>

#include "com_object.h"

namespace corvane::win {

template <class Enum, class Item, Item (*copy)(const Item&), void (*drop)(Item&)>
class Enumerator final : public ComObject<Enum> {
 public:
  // Takes over the references of `items`.
  static HRESULT create(std::vector<Item> items, Enum** result) noexcept {
    Held held(std::move(items));  // dropped here unless an enumerator takes them
    if (!result) return E_POINTER;
    *result = new (std::nothrow) Enumerator(std::move(held));
    return *result ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && next_ < items_.list.size(); ++n) out[n] = copy(items_.list[next_++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.list.size() - next_;
    next_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    Held items;
    try {
      items.list.reserve(items_.list.size());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (const Item& item : items_.list) items.list.push_back(copy(item));  // reserved: cannot throw
    auto* clone = new (std::nothrow) Enumerator(std::move(items));
    if (!clone) return E_OUTOFMEMORY;
    clone->next_ = next_;
    *result = clone;
    return S_OK;
  }

 private:
  // Items with the references they hold, dropped when it goes.
  struct Held {
    Held() = default;
    explicit Held(std::vector<Item>&& items) noexcept : list(std::move(items)) {}
    Held(Held&& other) noexcept : list(std::move(other.list)) { other.list.clear(); }
    Held& operator=(Held&&) = delete;
    ~Held() {
      for (Item& item : list) drop(item);
    }
    std::vector<Item> list;
  };

  explicit Enumerator(Held&& items) noexcept : items_(std::move(items)) {}

  Held items_;
  size_t next_ = 0;
};

template <class Interface>
Interface* addRef(Interface* const& item) {
  item->AddRef();
  return item;
}
template <class Interface>
void release(Interface*& item) {
  item->Release();
}

using ConnectionPointEnumerator = Enumerator<IEnumConnectionPoints, IConnectionPoint*, addRef, release>;

inline CONNECTDATA copyConnection(const CONNECTDATA& item) {
  item.pUnk->AddRef();
  return item;
}
inline void dropConnection(CONNECTDATA& item) { item.pUnk->Release(); }
using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA, copyConnection, dropConnection>;

}  // namespace corvane::win
