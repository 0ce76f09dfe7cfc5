// The registry the programs keep their settings in, backed by one text file
// in the format of a registry export (REGEDIT4):
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Brellin\Vantry]
//   "Port"="69"
//   "bForce"=dword:00000000
//
// The operations keep the registry's rules: opening a missing key fails,
// creating one makes every missing level, key and value names match without
// regard to case, and a query fails when the value is larger than the
// caller's buffer. Keys and values the program does not know are kept.
//
// The file is read when a key is opened while no other is open (so every
// session of use sees the file as it is now) and written back, atomically,
// when a key is closed after something was changed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using RegKey = std::uint32_t;

// The one predefined root the programs use.
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;

// Value types, numbered as the registry numbers them.
enum RegType : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

class RegistryStore {
public:
    explicit RegistryStore(std::string path);
    ~RegistryStore();  // writes what is still unwritten
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // $XDG_CONFIG_HOME/<folder>/<file>, with ~/.config when the variable is
    // unset or empty.
    static std::string ConfigPath(const std::string& folder, const std::string& file);

    const std::string& Path() const { return path_; }

    // subKey may name several levels separated by "\". OpenKey fails when a
    // level is missing; CreateKey makes the missing levels.
    bool OpenKey(RegKey parent, const std::string& subKey, RegKey& result);
    bool CreateKey(RegKey parent, const std::string& subKey, RegKey& result);
    // Writes the file when something was changed.
    bool CloseKey(RegKey key);

    // Copies the value's bytes into data (size in: the buffer's size; out: the
    // value's size). Fails when the value is absent or larger than the buffer.
    // data may be null to ask for the size and type only.
    bool QueryValue(RegKey key, const std::string& name, std::uint32_t* type, void* data,
                    std::uint32_t& size);
    bool SetValue(RegKey key, const std::string& name, std::uint32_t type, const void* data,
                  std::uint32_t size);

    // Convenience forms: a REG_SZ written with its terminating zero, and a
    // REG_DWORD of four little-endian bytes.
    bool SetString(RegKey key, const std::string& name, const std::string& text);
    bool SetDword(RegKey key, const std::string& name, std::uint32_t value);

    // Writes the file now when something is unwritten. False when the write
    // failed (the old file is then intact).
    bool Flush();

    // The file's text as it would be written now (for tests and diagnostics).
    std::string Serialise() const;

private:
    struct Value {
        std::string name;
        std::uint32_t type = kRegNone;
        std::vector<std::uint8_t> data;
    };
    struct Key {
        std::string name;
        std::vector<Value> values;  // in the order they were first written
        std::vector<std::unique_ptr<Key>> children;
        Key* Child(const std::string& childName) const;
        Value* Find(const std::string& valueName);
    };
    void LoadIfIdle();
    void Parse(const std::string& text);
    Key* Resolve(RegKey key);
    Key* Root(const std::string& name, bool create);
    RegKey NewHandle(Key* key);
    static void SerialiseKey(const Key& key, const std::string& path, std::string& out);

    std::string path_;
    std::vector<std::unique_ptr<Key>> roots_;
    std::map<RegKey, Key*> handles_;
    RegKey nextHandle_ = 1;
    bool dirty_ = false;
    // The file exists but could not be read: never overwrite it.
    bool readFailed_ = false;
};

}  // namespace platform
