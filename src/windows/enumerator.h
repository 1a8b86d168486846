#pragma once
// A COM enumerator (IEnumConnectionPoints, IEnumConnections, ...) over a
// snapshot taken when it is made: later changes to the source do not move it.
// Each item holds its references; `copy` gives the caller its own.
#include <windows.h>
#include <ocidl.h>

#include <new>
#include <vector>

#include "module.h"

namespace corvane::win {

template <class Enum, class Item, Item (*copy)(const Item&), void (*drop)(Item&)>
class Enumerator final : public Enum {
 public:
  // Takes over the references of `items`.
  static HRESULT create(REFIID iid, std::vector<Item> items, Enum** result) noexcept {
    Enumerator* made = result ? new (std::nothrow) Enumerator(iid, std::move(items)) : nullptr;
    if (!made) {
      for (Item& item : items) drop(item);  // still here: nothing took them over
      return result ? E_OUTOFMEMORY : E_POINTER;
    }
    *result = made;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = riid == IID_IUnknown || riid == iid_ ? static_cast<Enum*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && next_ < items_.size(); ++n) out[n] = copy(items_[next_++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.size() - next_;
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
    try {
      std::vector<Item> items;
      items.reserve(items_.size());
      for (const Item& item : items_) items.push_back(copy(item));
      auto* clone = new Enumerator(iid_, std::move(items));
      clone->next_ = next_;
      *result = clone;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  Enumerator(REFIID iid, std::vector<Item> items) : iid_(iid), items_(std::move(items)) {}
  ~Enumerator() {
    for (Item& item : items_) drop(item);
  }

  ModuleReference moduleReference_;
  LONG references_ = 1;
  const IID iid_;
  std::vector<Item> items_;
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
