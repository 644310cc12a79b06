#include "support/host/fake_registry.h"

#include <algorithm>
#include <tuple>

#include "support/host/sddl.h"

namespace varnok::testing {
namespace {

class FakeKey : public RegistryKey {
 public:
  FakeKey(FakeRegistry* registry, RegistryRoot root, RegistryView view, std::string path,
          const FakeRegistry::Key* key, std::shared_ptr<int> open_keys,
          std::shared_ptr<std::vector<std::string>> security_reads)
      : registry_(registry),
        root_(root),
        view_(view),
        path_(std::move(path)),
        key_(key),
        open_keys_(std::move(open_keys)),
        security_reads_(std::move(security_reads)) {
    ++*open_keys_;
  }
  ~FakeKey() override { --*open_keys_; }

  unsigned long EnumSubkey(unsigned long index, size_t buffer_chars, std::string* name) override {
    const auto error = key_->enum_errors.find(index);
    if (error != key_->enum_errors.end()) return error->second;
    if (index >= key_->subkeys.size()) return kErrorNoMoreItems;
    if (key_->subkeys[index].size() + 1 > buffer_chars) return kErrorMoreData;
    *name = key_->subkeys[index];
    return kErrorSuccess;
  }

  unsigned long QueryValue(const std::string& value_name, unsigned long* type,
                           std::vector<char>* data, unsigned long* stored_bytes) override {
    const auto it = key_->values.find(value_name);
    if (it == key_->values.end()) return kErrorFileNotFound;
    if (it->second.data.size() > kMaxRegistryValueBytes) {
      if (stored_bytes) *stored_bytes = static_cast<unsigned long>(it->second.data.size());
      return kErrorValueTooLarge;
    }
    *type = it->second.type;
    *data = it->second.data;
    return kErrorSuccess;
  }

  unsigned long EnumValueName(unsigned long index, std::string* name) override {
    if (index >= key_->values.size()) return kErrorNoMoreItems;
    *name = std::next(key_->values.begin(), index)->first;
    return kErrorSuccess;
  }

  unsigned long ReadSecurity(FileSecurity* security) override {
    security_reads_->push_back(path_);
    if (key_->security_error != 0) return key_->security_error;
    *security = ParseSddl(key_->sddl.empty() ? kAdminKeySddl : key_->sddl);
    return kErrorSuccess;
  }

  // The same key as opening the joined path from the root, injected failures included.
  unsigned long OpenSubkey(const std::string& name, std::unique_ptr<RegistryKey>* key) override {
    // As the Win32 registry behind the program does: an empty name would reopen this very key.
    if (name.empty()) return kErrorFileNotFound;
    return registry_->OpenKey(root_, view_, path_.empty() ? name : path_ + "\\" + name, key);
  }

 private:
  FakeRegistry* registry_;
  RegistryRoot root_;
  RegistryView view_;
  std::string path_;
  const FakeRegistry::Key* key_;
  std::shared_ptr<int> open_keys_;
  std::shared_ptr<std::vector<std::string>> security_reads_;
};

}  // namespace

FakeRegistry::Address FakeRegistry::Normalize(RegistryRoot root, RegistryView view,
                                              const std::string& path) {
  // Only HKEY_LOCAL_MACHINE has two views; a key opened with no view flag is the 64-bit one.
  if (root != RegistryRoot::kLocalMachine || view == RegistryView::kDefault) {
    view = RegistryView::k64;
  }
  return {root, view, path};
}

FakeRegistry::Key& FakeRegistry::AddKey(RegistryRoot root, RegistryView view,
                                        const std::string& path) {
  const Address address = Normalize(root, view, path);
  if (keys_.count(address) == 0 && !path.empty()) {
    const size_t slash = path.rfind('\\');
    const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    Key& parent_key = AddKey(root, view, parent);
    parent_key.subkeys.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
  }
  return keys_[address];
}

void FakeRegistry::SetRaw(RegistryRoot root, RegistryView view, const std::string& path,
                          const std::string& name, unsigned long type, const std::string& bytes) {
  AddKey(root, view, path).values[name] = Value{type, std::vector<char>(bytes.begin(), bytes.end())};
}

void FakeRegistry::SetString(RegistryRoot root, RegistryView view, const std::string& path,
                             const std::string& name, const std::string& text) {
  SetRaw(root, view, path, name, kRegSz, text + std::string(1, '\0'));
}

void FakeRegistry::SetDword(RegistryRoot root, RegistryView view, const std::string& path,
                            const std::string& name, unsigned long number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  SetRaw(root, view, path, name, kRegDword, bytes);
}

void FakeRegistry::DeleteKey(RegistryRoot root, RegistryView view, const std::string& path) {
  const Address address = Normalize(root, view, path);
  keys_.erase(address);
  const size_t slash = path.rfind('\\');
  const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
  const auto parent_key = keys_.find(Normalize(root, view, parent));
  if (parent_key != keys_.end()) {
    auto& subkeys = parent_key->second.subkeys;
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    subkeys.erase(std::remove(subkeys.begin(), subkeys.end(), leaf), subkeys.end());
  }
}

void FakeRegistry::FailOpen(RegistryRoot root, RegistryView view, const std::string& path,
                            unsigned long error) {
  open_failures_[Normalize(root, view, path)] = error;
}

unsigned long FakeRegistry::OpenKey(RegistryRoot root, RegistryView view, const std::string& path,
                                    std::unique_ptr<RegistryKey>* key) {
  ++opens_;
  const Address address = Normalize(root, view, path);
  const auto failure = open_failures_.find(address);
  if (failure != open_failures_.end()) return failure->second;
  const auto it = keys_.find(address);
  if (it == keys_.end()) return kErrorFileNotFound;
  *key = std::make_unique<FakeKey>(this, root, view, path, &it->second, open_keys_,
                                   security_reads_);
  return kErrorSuccess;
}

}  // namespace varnok::testing
