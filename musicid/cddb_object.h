// Reference counting for the identification component's objects, shared by
// the program and the component's modules: CddbObject implements the
// ICddbUnknown half of one interface, CddbPtr holds a reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "musicid/cddb_interfaces.h"

// An object implementing `Interface` (identified by `kIid`); it answers the
// queries for that interface and for ICddbUnknown. Created with one
// reference; deleted when the last is released.
template <class Interface, const CddbGuid& kIid>
class CddbObject : public Interface {
 public:
  CddbObject() = default;
  CddbObject(const CddbObject&) = delete;
  CddbObject& operator=(const CddbObject&) = delete;

  HRESULT QueryInterface(const CddbGuid& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!(iid == kIid) && !(iid == IID_ICddbUnknown)) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<Interface*>(this);
    return S_OK;
  }
  std::uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~CddbObject() = default;

 private:
  std::atomic<std::uint32_t> refs_{1};
};

// Holds one reference to a component object.
template <class T>
class CddbPtr {
 public:
  CddbPtr() = default;
  // Takes over the reference the caller holds.
  static CddbPtr Adopt(T* p) {
    CddbPtr ptr;
    ptr.p_ = p;
    return ptr;
  }
  // Adds a reference of its own.
  static CddbPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  CddbPtr(const CddbPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  CddbPtr(CddbPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  CddbPtr& operator=(CddbPtr other) {
    std::swap(p_, other.p_);
    return *this;
  }
  ~CddbPtr() { Reset(); }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-pointers: releases what is held and returns the slot.
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

 private:
  T* p_ = nullptr;
};
