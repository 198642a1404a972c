// The settings live in one text file, one value per line:
//   NAME <TAB> sz <TAB> escaped text      or      NAME <TAB> dword <TAB> decimal
// Writers hold an exclusive flock on a separate lock file for the whole
// read-modify-write and replace the file atomically (fsync + rename), so
// neither a crash nor a second writer (another host process, the command-line
// tool) can lose or tear values. Readers need no lock: they see the old or the
// new file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <charconv>
#include <map>
#include <system_error>

#include "base/fs.h"
#include "host/core/folders.h"
#include "host/core/settings_store.h"

namespace zel {

namespace {

struct Value {
    bool isNumber = false;
    std::string text;
    uint32_t number = 0;
};

using ValueMap = std::map<std::string, Value, std::less<>>;

std::string escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char n = text[++i];
        out.push_back(n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n);
    }
    return out;
}

// Lines that do not have the expected shape (a hand edit, a foreign file) are
// skipped one by one; the rest of the file still counts.
ValueMap parse(std::string_view content) {
    ValueMap values;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view line = content.substr(pos, end - pos);
        pos = end + 1;
        const size_t tab1 = line.find('\t');
        if (tab1 == std::string_view::npos || tab1 == 0) continue;
        const size_t tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, tab1);
        const std::string_view type = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string_view raw = line.substr(tab2 + 1);
        Value v;
        if (type == "sz") {
            v.text = unescape(raw);
        } else if (type == "dword") {
            const auto [ptr, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), v.number);
            if (ec != std::errc() || ptr != raw.data() + raw.size()) continue;
            v.isNumber = true;
        } else {
            continue;
        }
        values.insert_or_assign(std::string(name), std::move(v));
    }
    return values;
}

std::string serialise(const ValueMap& values) {
    std::string out;
    for (const auto& [name, v] : values) {
        out += name;
        out += v.isNumber ? "\tdword\t" + std::to_string(v.number) : "\tsz\t" + escape(v.text);
        out += '\n';
    }
    return out;
}

// A name has to survive the line format.
bool valid_name(std::string_view name) {
    return !name.empty() && name.find_first_of("\t\r\n") == std::string_view::npos;
}

class FileSettingsStore : public SettingsStore {
  public:
    explicit FileSettingsStore(std::filesystem::path folder)
        : folder_(std::move(folder)),
          file_(folder_ / "settings"),
          lock_(folder_ / "settings.lock") {}

    std::optional<std::string> readText(std::string_view name) override {
        const ValueMap values = load();
        const auto it = values.find(name);
        if (it == values.end() || it->second.isNumber) return std::nullopt;
        return it->second.text;
    }

    std::optional<uint32_t> readNumber(std::string_view name) override {
        const ValueMap values = load();
        const auto it = values.find(name);
        if (it == values.end() || !it->second.isNumber) return std::nullopt;
        return it->second.number;
    }

    bool writeText(std::string_view name, std::string_view value) override {
        Value v;
        v.text = std::string(value);
        return update(name, &v);
    }

    bool writeNumber(std::string_view name, uint32_t value) override {
        Value v;
        v.isNumber = true;
        v.number = value;
        return update(name, &v);
    }

    bool remove(std::string_view name) override { return update(name, nullptr); }

  private:
    ValueMap load() const {
        std::string content;
        if (!read_whole_file(file_, content)) return {};
        return parse(content);
    }

    // value null: remove the name.
    bool update(std::string_view name, const Value* value) {
        if (!valid_name(name)) return false;
        std::error_code ec;
        std::filesystem::create_directories(folder_, ec);
        const int fd = ::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        int rc;
        while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        bool ok = false;
        if (rc == 0) {
            ValueMap values = load();
            if (value) {
                values.insert_or_assign(std::string(name), *value);
                ok = atomic_replace_file(file_, serialise(values));
            } else {
                const bool had = values.erase(std::string(name)) > 0;
                ok = !had || atomic_replace_file(file_, serialise(values));
            }
            ::flock(fd, LOCK_UN);
        }
        ::close(fd);
        return ok;
    }

    std::filesystem::path folder_, file_, lock_;
};

}  // namespace

std::unique_ptr<SettingsStore> make_settings_store(const std::string& location) {
    return std::make_unique<FileSettingsStore>(location.empty() ? default_host_folders().roaming
                                                                : path_from_utf8(location));
}

}  // namespace zel
