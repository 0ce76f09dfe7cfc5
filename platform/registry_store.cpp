#include "registry_store.h"

#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <sstream>

namespace platform {

namespace {

constexpr char kCurrentUserName[] = "HKEY_CURRENT_USER";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

// Reads a quoted text starting at text[pos] == '"'; pos ends after the
// closing quote. Only \\ and \" are escapes; other backslashes stay.
bool ReadQuoted(const std::string& text, std::size_t& pos, std::string& out) {
    if (pos >= text.size() || text[pos] != '"') return false;
    out.clear();
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[++i];
        } else if (c == '"') {
            pos = i + 1;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "aa,bb,cc" (blanks allowed; a trailing comma too) into bytes.
bool ReadHexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string token = Trim(text.substr(pos, comma - pos));
        pos = comma + 1;
        if (token.empty()) continue;
        if (token.size() > 2) return false;
        int byte = 0;
        for (const char c : token) {
            const int d = HexDigit(c);
            if (d < 0) return false;
            byte = byte * 16 + d;
        }
        out.push_back(static_cast<std::uint8_t>(byte));
    }
    return true;
}

std::string HexBytes(const std::vector<std::uint8_t>& data) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        if (i) out += ',';
        out += buf;
    }
    return out;
}

// A REG_SZ that a quoted text can carry: one terminating zero, no other
// zero, no line breaks or other control characters.
bool PlainText(const std::vector<std::uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] < 0x20 || data[i] == 0x7F) return false;
    return true;
}

}  // namespace

RegistryStore::Key* RegistryStore::Key::Child(const std::string& childName) const {
    for (const auto& c : children)
        if (SameName(c->name, childName)) return c.get();
    return nullptr;
}

RegistryStore::Value* RegistryStore::Key::Find(const std::string& valueName) {
    for (Value& v : values)
        if (SameName(v.name, valueName)) return &v;
    return nullptr;
}

RegistryStore::RegistryStore(std::string path) : path_(std::move(path)) {}

RegistryStore::~RegistryStore() { Flush(); }

std::string RegistryStore::ConfigPath(const std::string& folder, const std::string& file) {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/" + folder + "/" + file;
}

RegistryStore::Key* RegistryStore::Root(const std::string& name, bool create) {
    for (const auto& r : roots_)
        if (SameName(r->name, name)) return r.get();
    if (!create) return nullptr;
    roots_.push_back(std::make_unique<Key>());
    roots_.back()->name = name;
    return roots_.back().get();
}

void RegistryStore::LoadIfIdle() {
    if (!handles_.empty()) return;
    roots_.clear();
    dirty_ = false;
    readFailed_ = false;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A missing file is an empty registry; an unreadable one must not be
        // replaced by what this program knows.
        readFailed_ = (errno != ENOENT);
        return;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readFailed_ = true;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!readFailed_) Parse(text);
}

void RegistryStore::Parse(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(Trim(line));

    Key* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty() || l[0] == ';') continue;
        if (l[0] == '[') {
            current = nullptr;
            if (l.size() < 2 || l.back() != ']' || l[1] == '-') continue;
            const std::vector<std::string> parts = SplitPath(l.substr(1, l.size() - 2));
            if (parts.empty()) continue;
            Key* key = Root(parts[0], true);
            for (std::size_t p = 1; p < parts.size(); ++p) {
                Key* child = key->Child(parts[p]);
                if (!child) {
                    key->children.push_back(std::make_unique<Key>());
                    child = key->children.back().get();
                    child->name = parts[p];
                }
                key = child;
            }
            current = key;
            continue;
        }
        if (!current) continue;

        Value value;
        std::size_t pos = 0;
        if (l[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(l, pos, value.name)) {
            continue;
        }
        if (pos >= l.size() || l[pos] != '=') continue;
        std::string data = l.substr(pos + 1);
        if (data.rfind("hex", 0) == 0) {
            // Long binary values continue on the next lines after a "\".
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                data += lines[++i];
            }
        }
        if (!data.empty() && data[0] == '"') {
            std::size_t q = 0;
            std::string s;
            if (!ReadQuoted(data, q, s)) continue;
            value.type = kRegSz;
            value.data.assign(s.begin(), s.end());
            value.data.push_back(0);
        } else if (data.rfind("dword:", 0) == 0) {
            const std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8) continue;
            std::uint32_t v = 0;
            bool ok = true;
            for (const char c : digits) {
                const int d = HexDigit(c);
                if (d < 0) ok = false;
                v = v * 16 + static_cast<std::uint32_t>(d < 0 ? 0 : d);
            }
            if (!ok) continue;
            value.type = kRegDword;
            value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        } else if (data.rfind("hex:", 0) == 0) {
            value.type = kRegBinary;
            if (!ReadHexBytes(data.substr(4), value.data)) continue;
        } else if (data.rfind("hex(", 0) == 0) {
            const std::size_t close = data.find("):");
            if (close == std::string::npos || close == 4) continue;
            std::uint32_t type = 0;
            bool ok = true;
            for (std::size_t k = 4; k < close; ++k) {
                const int d = HexDigit(data[k]);
                if (d < 0) ok = false;
                type = type * 16 + static_cast<std::uint32_t>(d < 0 ? 0 : d);
            }
            if (!ok || !ReadHexBytes(data.substr(close + 2), value.data)) continue;
            value.type = type;
        } else {
            continue;  // "-" (a deletion) or a form this store does not know
        }
        if (Value* old = current->Find(value.name)) *old = std::move(value);
        else current->values.push_back(std::move(value));
    }
}

RegKey RegistryStore::NewHandle(Key* key) {
    RegKey h = nextHandle_++;
    if (nextHandle_ >= kHkeyCurrentUser) nextHandle_ = 1;
    handles_[h] = key;
    return h;
}

RegistryStore::Key* RegistryStore::Resolve(RegKey key) {
    if (key == kHkeyCurrentUser) return Root(kCurrentUserName, true);
    const auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : it->second;
}

bool RegistryStore::OpenKey(RegKey parent, const std::string& subKey, RegKey& result) {
    LoadIfIdle();
    Key* key = Resolve(parent);
    if (!key) return false;
    for (const std::string& part : SplitPath(subKey)) {
        key = key->Child(part);
        if (!key) return false;
    }
    result = NewHandle(key);
    return true;
}

bool RegistryStore::CreateKey(RegKey parent, const std::string& subKey, RegKey& result) {
    LoadIfIdle();
    Key* key = Resolve(parent);
    if (!key) return false;
    for (const std::string& part : SplitPath(subKey)) {
        Key* child = key->Child(part);
        if (!child) {
            key->children.push_back(std::make_unique<Key>());
            child = key->children.back().get();
            child->name = part;
            dirty_ = true;
        }
        key = child;
    }
    result = NewHandle(key);
    return true;
}

bool RegistryStore::CloseKey(RegKey key) {
    if (key == kHkeyCurrentUser) return true;
    if (handles_.erase(key) == 0) return false;
    if (dirty_) Flush();
    return true;
}

bool RegistryStore::QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                               void* data, std::uint32_t& size) {
    Key* k = Resolve(key);
    if (!k) return false;
    const Value* v = k->Find(name);
    if (!v) return false;
    if (type) *type = v->type;
    const auto needed = static_cast<std::uint32_t>(v->data.size());
    if (data && needed > size) {
        size = needed;
        return false;
    }
    if (data && needed) std::memcpy(data, v->data.data(), needed);
    size = needed;
    return true;
}

bool RegistryStore::SetValue(RegKey key, const std::string& name, std::uint32_t type,
                             const void* data, std::uint32_t size) {
    Key* k = Resolve(key);
    if (!k || (size && !data)) return false;
    Value* v = k->Find(name);
    if (!v) {
        k->values.push_back(Value{});
        v = &k->values.back();
        v->name = name;
    }
    v->type = type;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    v->data.assign(bytes, bytes + size);
    dirty_ = true;
    return true;
}

bool RegistryStore::SetString(RegKey key, const std::string& name, const std::string& text) {
    return SetValue(key, name, kRegSz, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
}

bool RegistryStore::SetDword(RegKey key, const std::string& name, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 24)};
    return SetValue(key, name, kRegDword, bytes, 4);
}

bool RegistryStore::Flush() {
    if (!dirty_) return true;
    dirty_ = false;
    if (readFailed_) return false;
    return WriteFileAtomically(path_, Serialise());
}

void RegistryStore::SerialiseKey(const Key& key, const std::string& path, std::string& out) {
    out += '[' + path + "]\n";
    char buf[32];
    for (const Value& v : key.values) {
        out += v.name.empty() ? std::string("@") : Quote(v.name);
        out += '=';
        if (v.type == kRegSz && PlainText(v.data)) {
            out += Quote(std::string(v.data.begin(), v.data.end() - 1));
        } else if (v.type == kRegDword && v.data.size() == 4) {
            const std::uint32_t d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                    (static_cast<std::uint32_t>(v.data[3]) << 24);
            std::snprintf(buf, sizeof buf, "dword:%08x", d);
            out += buf;
        } else if (v.type == kRegBinary) {
            out += "hex:" + HexBytes(v.data);
        } else {
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            out += buf + HexBytes(v.data);
        }
        out += '\n';
    }
    out += '\n';
    for (const auto& child : key.children) SerialiseKey(*child, path + '\\' + child->name, out);
}

std::string RegistryStore::Serialise() const {
    std::string out = "REGEDIT4\n\n";
    for (const auto& root : roots_) {
        if (!root->values.empty()) {
            SerialiseKey(*root, root->name, out);
            continue;
        }
        for (const auto& child : root->children)
            SerialiseKey(*child, root->name + '\\' + child->name, out);
    }
    return out;
}

}  // namespace platform
