#include "musicid/component/component_objects.h"

#include <new>

namespace cddb_component {

HRESULT Options::SetText(CddbOption option, const char* value) {
  texts_[option] = value ? value : "";
  return S_OK;
}

HRESULT Options::SetNumber(CddbOption option, long value) {
  numbers_[option] = value;
  return S_OK;
}

HRESULT Options::GetText(CddbOption option, std::string* value) {
  if (value == nullptr) return E_POINTER;
  *value = Text(option);
  return S_OK;
}

HRESULT Options::GetNumber(CddbOption option, long* value) {
  if (value == nullptr) return E_POINTER;
  *value = Number(option);
  return S_OK;
}

std::string Options::Text(CddbOption option) const {
  auto it = texts_.find(option);
  return it == texts_.end() ? std::string() : it->second;
}

long Options::Number(CddbOption option) const {
  auto it = numbers_.find(option);
  return it == numbers_.end() ? 0 : it->second;
}

Options* Options::Clone() const {
  Options* copy = new (std::nothrow) Options();
  if (copy) {
    copy->texts_ = texts_;
    copy->numbers_ = numbers_;
  }
  return copy;
}

const std::string& TextFields::Get(CddbField field) const {
  static const std::string kEmpty;
  auto it = fields_.find(field);
  return it == fields_.end() ? kEmpty : it->second;
}

HRESULT TextFields::Read(CddbField field, std::string* value) const {
  if (value == nullptr) return E_POINTER;
  *value = Get(field);
  return S_OK;
}

HRESULT HandOutAs(ICddbUnknown* fresh, const CddbGuid& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (fresh == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = fresh->QueryInterface(iid, out);
  fresh->Release();
  return hr;
}

HRESULT ClassFactory::CreateInstance(ICddbUnknown* outer, const CddbGuid& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return E_INVALIDARG;
  return HandOutAs(make_(), iid, out);
}

HRESULT GetClassObject(ClassFactory::MakeFn make, const CddbGuid* iid, void** out) {
  if (out == nullptr || iid == nullptr) return E_POINTER;
  *out = nullptr;
  if (make == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return HandOutAs(new (std::nothrow) ClassFactory(make), *iid, out);
}

}  // namespace cddb_component
