// A whole fake registry: keys addressed by (root, view, path), each with ordered subkeys and typed
// values, plus injected failures. HKEY_LOCAL_MACHINE keys exist per view; the other roots are the
// same in every view, as on Windows.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inventory/registry_source.h"

namespace varnok::testing {

// A key as installers leave it: administrators and SYSTEM may change it, users may read it.
constexpr char kAdminKeySddl[] = "O:BAD:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

class FakeRegistry : public RegistrySource {
 public:
  struct Value {
    unsigned long type;
    std::vector<char> data;
  };
  struct Key {
    std::vector<std::string> subkeys;  // enumeration order
    std::map<std::string, Value> values;
    std::map<unsigned long, unsigned long> enum_errors;  // index -> error at that index
    std::string sddl;  // the key's descriptor; empty: administrators' only (kAdminKeySddl)
    unsigned long security_error = 0;
  };

  // Creates the key and every missing parent, registering each as a subkey of its parent.
  Key& AddKey(RegistryRoot root, RegistryView view, const std::string& path);
  void SetString(RegistryRoot root, RegistryView view, const std::string& path,
                 const std::string& name, const std::string& text);  // REG_SZ with terminator
  void SetRaw(RegistryRoot root, RegistryView view, const std::string& path,
              const std::string& name, unsigned long type, const std::string& bytes);
  void SetDword(RegistryRoot root, RegistryView view, const std::string& path,
                const std::string& name, unsigned long number);
  void DeleteKey(RegistryRoot root, RegistryView view, const std::string& path);
  void FailOpen(RegistryRoot root, RegistryView view, const std::string& path,
                unsigned long error);
  // Every key whose security was read, as "<path>".
  const std::vector<std::string>& security_reads() const { return *security_reads_; }

  unsigned long OpenKey(RegistryRoot root, RegistryView view, const std::string& path,
                        std::unique_ptr<RegistryKey>* key) override;

  // Keys opened and not yet closed: every open must be matched by a close.
  int open_keys() const { return *open_keys_; }
  int opens() const { return opens_; }

 private:
  using Address = std::tuple<RegistryRoot, RegistryView, std::string>;
  static Address Normalize(RegistryRoot root, RegistryView view, const std::string& path);

  std::map<Address, Key> keys_;
  std::map<Address, unsigned long> open_failures_;
  std::shared_ptr<int> open_keys_ = std::make_shared<int>(0);
  std::shared_ptr<std::vector<std::string>> security_reads_ =
      std::make_shared<std::vector<std::string>>();
  int opens_ = 0;
};

}  // namespace varnok::testing
