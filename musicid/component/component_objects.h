// Objects of the identification component shared by its two modules: the
// options bag and a set of text fields that tags and results are made of.
//
// Thread safety: as every component object, one thread at a time.
#pragma once

#include <map>
#include <string>

#include "musicid/cddb_object.h"

namespace cddb_component {

// The options object: text and number values by slot; unset values read
// as empty or 0.
class Options : public CddbObject<ICddbOptions, IID_ICddbUnknown> {
 public:
  HRESULT SetText(CddbOption option, const char* value) override;
  HRESULT SetNumber(CddbOption option, long value) override;
  HRESULT GetText(CddbOption option, std::string* value) override;
  HRESULT GetNumber(CddbOption option, long* value) override;

  std::string Text(CddbOption option) const;
  long Number(CddbOption option) const;
  // A new object with the same values.
  Options* Clone() const;

 private:
  std::map<CddbOption, std::string> texts_;
  std::map<CddbOption, long> numbers_;
};

// Text fields by name; an unset field reads as empty.
class TextFields {
 public:
  void Set(CddbField field, std::string value) { fields_[field] = std::move(value); }
  const std::string& Get(CddbField field) const;
  HRESULT Read(CddbField field, std::string* value) const;

 private:
  std::map<CddbField, std::string> fields_;
};

// Hands out `fresh` (a new object holding one reference) as `iid`; the
// object is released again, so it dies when the query fails.
HRESULT HandOutAs(ICddbUnknown* fresh, const CddbGuid& iid, void** out);

// A class factory that makes its objects with `make`.
class ClassFactory : public CddbObject<ICddbClassFactory, IID_ICddbClassFactory> {
 public:
  using MakeFn = ICddbUnknown* (*)();
  explicit ClassFactory(MakeFn make) : make_(make) {}
  HRESULT CreateInstance(ICddbUnknown* outer, const CddbGuid& iid, void** out) override;

 private:
  MakeFn make_;
};

// DllGetClassObject for a module whose classes `make_for` knows (null for a
// class it does not serve).
HRESULT GetClassObject(ClassFactory::MakeFn make, const CddbGuid* iid, void** out);

}  // namespace cddb_component
