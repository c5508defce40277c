// The two forms of the report: an aligned table for people, JSON for tools.
#include <algorithm>
#include <cstdio>

#include "check.h"
#include "pci_bits.h"
#include "pci_caps.h"

namespace kvtlcheck
{

namespace
{

const char *const YELLOW = "\033[33m";
const char *const RED = "\033[31m";
const char *const GREEN = "\033[32m";
const char *const BOLD = "\033[1m";
const char *const RESET = "\033[0m";
const size_t TEXT_COLUMN = 28;

std::string lines(const Applied &a)
{
    return a.line == a.last_line ? std::to_string(a.line)
                                 : std::to_string(a.line) + "-" + std::to_string(a.last_line);
}

std::string clip(const std::string &s, size_t width)
{
    return s.size() <= width ? s : s.substr(0, width - 3) + "...";
}

// Valid JSON for any bytes: control characters and bytes from 0x7F as \u00XX.
std::string json_string(const std::string &bytes)
{
    std::string s = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c == '\n') {
            s += "\\n";
        } else if (c == '\r') {
            s += "\\r";
        } else if (c == '\t') {
            s += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            s += "\\u00" + hex(c);
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

const PciCapabilityByte *cap_of(const Applied &a)
{
    return a.capability.empty() ? nullptr : &a.cap;
}

// Each bit the line changed, as pci_changed_bits_text words it.
std::string bits_text(const Applied &a)
{
    char text[PCI_BITS_TEXT_MAX];
    pci_changed_bits_text(text, a.id, a.offset, a.before, a.after, cap_of(a));
    return text;
}

// The applied line changed a byte the machine shows.
bool changed(const Applied &a)
{
    return a.present && a.known && a.before != a.after;
}

} // namespace

std::string render_table(const Report &report, const std::string &file, bool colour)
{
    auto paint = [colour](const char *code, const std::string &s) {
        return colour ? code + s + RESET : s;
    };
    std::string out = paint(BOLD, file) + ": " + std::to_string(report.applied.size()) +
                      (report.applied.size() == 1 ? " line" : " lines") + " applied\n";

    typedef std::vector<std::string> Row;
    std::vector<Row> rows = {{"line", "text", "reg", "value", "dev", "fn", "address", "port",
                              "reaches", "name", "before", "wrote", "after"}};
    for (const Applied &a : report.applied)
        rows.push_back({lines(a), clip(escape(a.text), TEXT_COLUMN), hex(a.reg), hex(a.value),
                        hex(a.device), hex(a.function, 1), hex(a.address, 8), hex(a.port, 4),
                        sim::format(a.reaches) + " " + hex(a.offset), a.present ? a.reg_name : "-",
                        a.known ? hex(a.before) : "??", hex(a.written),
                        a.known ? hex(a.after) : "??"});
    std::vector<size_t> width(rows[0].size(), 0);
    for (const Row &r : rows)
        for (size_t i = 0; i < r.size(); i++)
            width[i] = std::max(width[i], r[i].size());

    if (report.applied.empty())
        rows.clear();
    std::vector<std::string> chips_told; // functions whose chip was named
    for (size_t n = 0; n < rows.size(); n++) {
        std::string row;
        for (size_t i = 0; i < rows[n].size(); i++) {
            const std::string &cell = rows[n][i];
            std::string pad(width[i] - cell.size(), ' ');
            bool right = i == 0; // line numbers right-aligned, the rest left
            std::string sep = i + 1 < rows[n].size() ? "  " : "";
            row += right ? pad + cell + sep : cell + (sep.empty() ? "" : pad + sep);
        }
        out += (n == 0 ? paint(BOLD, row) : row) + "\n";
        if (n == 0)
            continue;
        const Applied &a = report.applied[n - 1];
        const std::string indent(width[0] + 2, ' '), at = sim::format(a.reaches);
        if (!a.chip.empty() &&
            std::find(chips_told.begin(), chips_told.end(), at) == chips_told.end()) {
            chips_told.push_back(at);
            out += indent + at + ": " + a.chip + " (" + a.source + ")\n";
        }
        if (!a.note.empty())
            out += indent + a.reg_name + ": " + a.note + "\n";
        if (!a.capability.empty())
            out += indent + "capability: " + a.capability + "\n";
        if (changed(a))
            out += indent + "changes " + bits_text(a) + "\n";
        for (const Warning &w : a.warnings)
            out += indent + paint(YELLOW, "warning:") + " " + w.text + "\n";
    }

    for (const Warning &w : report.file_warnings)
        out += "line " + std::to_string(w.line) + ": " + paint(YELLOW, "warning:") + " " + w.text +
               "\n";

    out += "restore: " + std::to_string(report.restore_writes) +
           (report.restore_writes == 1 ? " write" : " writes, newest change first");
    if (report.all_restored) {
        out += "; " + paint(GREEN, "every register is back at its pre-pass byte") + "\n";
    } else {
        out += "; " + paint(RED, "NOT every register is back at its pre-pass byte") + "\n";
        for (const Restored &r : report.restored)
            if (r.now != r.pre_pass)
                out += "  " + sim::format(r.at) + " register " + hex(r.offset) + " is " +
                       hex(r.now) + ", was " + hex(r.pre_pass) + "\n";
    }

    int warnings = report.warning_count();
    out += std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") + "\n";
    return out;
}

std::string render_json(const Report &report)
{
    std::string out = "[";
    for (size_t n = 0; n < report.applied.size(); n++) {
        const Applied &a = report.applied[n];
        auto num = [](const char *key, std::uint32_t v) {
            return std::string("\"") + key + "\": " + std::to_string(v) + ", ";
        };
        // A byte the machine's dump did not show is unknown: null, never a guess.
        auto known = [&a](const char *key, std::uint32_t v) {
            return std::string("\"") + key + "\": " + (a.known ? std::to_string(v) : "null") + ", ";
        };
        out += n ? ",\n " : "\n ";
        out += "{" + num("line", a.line) + num("last_line", a.last_line) +
               "\"text\": " + json_string(a.text) + ", " + num("register", a.reg) +
               num("value", a.value) + num("device", a.device) + num("function", a.function) +
               num("address", a.address) + num("port", a.port) + "\"reaches\": {" +
               "\"bdf\": " + json_string(sim::format(a.reaches)) + ", " +
               num("bus", a.reaches.bus) + num("device", a.reaches.dev) +
               num("function", a.reaches.fn) + num("register", a.offset) +
               "\"present\": " + (a.present ? "true" : "false") +
               ", \"name\": " + json_string(a.name) + ", \"chip\": " + json_string(a.chip) + "}, " +
               "\"name\": " + json_string(a.reg_name) + ", ";
        out +=
            "\"capability\": " + (a.capability.empty() ? "null" : json_string(a.capability)) + ", ";
        out += known("before", a.before) + num("written", a.written) + known("after", a.after);
        out += "\"note\": " + json_string(a.note) + ", \"changed_bits\": ";
        if (!a.present || !a.known) {
            out += "null, ";
        } else {
            std::string bits;
            for (unsigned bit = 0; bit < 8; bit++) {
                if (!((a.before ^ a.after) >> bit & 1))
                    continue;
                const PciBitField *f = cap_of(a) ? pci_capability_bit(a.cap, bit) : nullptr;
                if (!f)
                    f = pci_bit_field(a.id, a.offset, bit);
                bits += (bits.empty() ? "{" : ", {") + num("bit", bit) +
                        num("from", a.before >> bit & 1) +
                        "\"to\": " + std::to_string(a.after >> bit & 1) +
                        (f ? ", \"name\": " + json_string(f->name) : "") + "}";
            }
            out += "[" + bits + "], ";
        }
        std::string texts, kinds;
        for (const Warning &w : a.warnings) {
            texts += (texts.empty() ? "" : ", ") + json_string(w.text);
            kinds += (kinds.empty() ? "" : ", ") + json_string(kind_name(w.kind));
        }
        out += "\"warnings\": [" + texts + "], \"kinds\": [" + kinds + "]}";
    }
    return out + (report.applied.empty() ? "]\n" : "\n]\n");
}

} // namespace kvtlcheck
