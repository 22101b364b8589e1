// lumo-devctl: the person's and the tests' way into a running simulated phone. The command line
// is checked against the table of verbs before anything talks to the device, so a mistyped
// command is a usage error whether or not a device runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ctl.h"

#ifndef LUMO_VERSION
#define LUMO_VERSION "0"
#endif

namespace lumo::ctl {
namespace {

constexpr const char* kHeader = R"(Usage: lumo-devctl [--device DIR] VERB [ARGS...]
       lumo-devctl VERB --help       the forms of one verb
       lumo-devctl --version

Drives the simulated phone served from DIR: --device DIR, else $LUMO_DEVICE, else
$XDG_DATA_HOME/lumo/phone (or ~/.local/share/lumo/phone).

Verbs:
)";

constexpr const char* kFooter = R"(
ROOT is HKCU or HKLM. KEY uses backslashes, e.g. 'Software\Vesk\Lumo'.
Exit status: 0 done, 1 not found or refused, 2 usage error, 3 no device.
)";

std::string default_dir() {
    if (const char* named = std::getenv("LUMO_DEVICE"); named && *named) return named;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/lumo/phone";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/lumo/phone";
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        auto at = s.find(sep, from);
        out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return out;
        from = at + 1;
    }
}

// "a, b or c"
std::string either(const std::vector<std::string>& words) {
    std::string s;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i) s += i + 1 == words.size() ? " or " : ", ";
        s += words[i];
    }
    return s;
}

// One element of a verb's shape.
struct Elem {
    enum Kind { Placeholder, Choice, Rest, Flag, Option } kind = Placeholder;
    bool optional = false;
    std::string name;                // placeholder name, or the option's value name
    std::vector<std::string> words;  // the choices, or the flag's (or option's) spellings
};

std::vector<Elem> parse_shape(const char* shape) {
    std::vector<Elem> out;
    std::vector<std::string> tokens;
    for (auto& t : split(shape, ' ')) {
        if (t.empty()) continue;
        // "[--opt VALUE]" is one element written as two words.
        if (!tokens.empty() && tokens.back()[0] == '[' && tokens.back().back() != ']')
            tokens.back() += " " + t;
        else
            tokens.push_back(t);
    }
    for (auto t : tokens) {
        Elem e;
        if (t.size() > 2 && t.front() == '[' && t.back() == ']') {
            e.optional = true;
            t = t.substr(1, t.size() - 2);
        }
        if (t[0] == '-') {
            auto space = t.find(' ');
            e.kind = space == std::string::npos ? Elem::Flag : Elem::Option;
            if (e.kind == Elem::Option) e.name = t.substr(space + 1);
            e.words = split(t.substr(0, space), '|');
        } else if (t.size() > 3 && t.compare(t.size() - 3, 3, "...") == 0) {
            e.kind = Elem::Rest;
            e.name = t.substr(0, t.size() - 3);
        } else if (t.find('|') != std::string::npos && !(t[0] >= 'A' && t[0] <= 'Z')) {
            e.kind = Elem::Choice;
            e.words = split(t, '|');
        } else {
            e.name = t;
        }
        out.push_back(e);
    }
    return out;
}

std::string form(const Verb& v) {
    std::string s = v.name;
    if (v.sub) s += std::string(" ") + v.sub;
    if (*v.shape) s += std::string(" ") + v.shape;
    return s;
}

void print_row(const Verb& v) {
    std::string left = "  " + form(v);
    constexpr std::size_t kColumn = 38, kWidth = 98;
    if (left.size() + 2 > kColumn) {
        std::printf("%s\n", left.c_str());
        left.clear();
    }
    left.resize(kColumn, ' ');
    std::string line = left;
    for (auto& word : split(v.help, ' ')) {
        if (line.size() + 1 + word.size() > kWidth && line.size() > kColumn) {
            std::printf("%s\n", line.c_str());
            line = std::string(kColumn, ' ');
        }
        if (line.size() > kColumn) line += ' ';
        line += word;
    }
    std::printf("%s\n", line.c_str());
}

void print_help() {
    std::fputs(kHeader, stdout);
    const char* last = nullptr;
    for (const auto& v : verbs()) {
        // A blank line between areas of the table: where the verb's first word changes area.
        if (last && std::strcmp(last, v.name) != 0 &&
            (!std::strcmp(v.name, "windows") || !std::strcmp(v.name, "screenshot") ||
             !std::strcmp(v.name, "power") || !std::strcmp(v.name, "sms") ||
             !std::strcmp(v.name, "gsm")))
            std::printf("\n");
        last = v.name;
        print_row(v);
    }
    std::fputs(kFooter, stdout);
}

void print_verb_help(const std::string& verb) {
    std::printf("Usage:\n");
    for (const auto& v : verbs())
        if (verb == v.name) print_row(v);
    std::fputs(kFooter, stdout);
}

// Checks one placeholder's value by the kind its name stands for.
void check_value(const std::string& name, const std::string& value) {
    static const char* kCoordinates[] = {"X", "Y", "X1", "Y1", "X2", "Y2"};
    static const char* kNumbers[] = {"PID", "MSG",  "WPARAM", "LPARAM", "VK", "MS",
                                     "PERCENT", "HWND", "CALL", "ID", "COUNT", "N"};
    for (auto* c : kCoordinates)
        if (name == c) parse_coordinate(value, c);
    for (auto* n : kNumbers)
        if (name == n) parse_number(value, n);
    if (name == "N" && !value.empty() && value[0] == '-')
        usage("N must be a count, not '" + value + "'");
    if (name == "S") {
        char* end = nullptr;
        double s = std::strtod(value.c_str(), &end);
        if (value.empty() || *end || !(s >= 0 && s <= 86400))
            usage("S must be a number of seconds, not '" + value + "'");
    }
    if ((name == "START" || name == "END" || name == "DATE") && !parse_local_time(value, nullptr))
        usage(name + " wants YYYY-MM-DD[THH:MM[:SS]], not '" + value + "'");
    if ((name == "ID" || name == "N") && (value.empty() || value[0] == '-'))
        usage(name + " must be a number of 0 or more, not '" + value + "'");
    if (name == "TIME|off" && value != "off" && !parse_local_time(value, nullptr))
        usage("TIME wants YYYY-MM-DDTHH:MM[:SS] or off, not '" + value + "'");
    if (name == "IMPORTANCE" && value != "0" && value != "1" && value != "2")
        usage("IMPORTANCE must be 0, 1 or 2, not '" + value + "'");
    if (name == "NUMBER") {
        // A phone number: digits, "+" in front, "*" and "#", and the blanks, dashes, dots and
        // brackets people write between them.
        bool digit = false, ok = !value.empty() && value.size() <= 80;
        for (std::size_t i = 0; ok && i < value.size(); ++i) {
            char c = value[i];
            digit |= c >= '0' && c <= '9';
            ok = (c >= '0' && c <= '9') || c == '*' || c == '#' || c == ' ' || c == '-' || c == '.' ||
                 c == '(' || c == ')' || (c == '+' && i == 0);
        }
        if (!ok || !digit) usage("NUMBER must be a phone number, not '" + value + "'");
    }
    if (name == "ROOT" && value != "HKCU" && value != "HKLM" && value != "HKEY_CURRENT_USER" &&
        value != "HKEY_LOCAL_MACHINE")
        usage("ROOT must be HKCU or HKLM, not '" + value + "'");
}

bool looks_like_number(const std::string& s) {
    return s.size() > 1 && s[0] == '-' && s[1] >= '0' && s[1] <= '9';
}

// Matches `rest` (what follows the verb) to one of the verb's forms and checks it.
std::pair<const Verb*, Args> match(const std::string& verb, const std::vector<std::string>& rest) {
    std::vector<const Verb*> rows;
    for (const auto& v : verbs())
        if (verb == v.name) rows.push_back(&v);
    if (rows.empty()) usage("unknown verb '" + verb + "' (lumo-devctl --help lists them)");
    const Verb* row = nullptr;
    const Verb* bare = nullptr;
    std::vector<std::string> subs;
    for (auto* r : rows) {
        if (!r->sub) {
            bare = r;
            continue;
        }
        for (auto& word : split(r->sub, '|')) {
            subs.push_back(word);
            if (!rest.empty() && rest[0] == word) row = r;
        }
    }
    Args args;
    args.verb = verb;
    std::size_t first = 0;
    if (row) {
        args.sub = rest[0];
        first = 1;
    } else if (bare) {
        row = bare;
    } else if (rest.empty()) {
        usage(verb + " wants " + either(subs) + " (lumo-devctl " + verb + " --help)");
    } else {
        usage(verb + " wants " + either(subs) + ", not '" + rest[0] + "'");
    }
    const std::string usage_hint = " (usage: lumo-devctl " + form(*row) + ")";
    auto shape = parse_shape(row->shape);
    std::vector<const Elem*> positional;
    for (auto& e : shape)
        if (e.kind != Elem::Flag && e.kind != Elem::Option) positional.push_back(&e);
    // Options may stand anywhere after the verb.
    std::vector<std::string> given;
    for (std::size_t i = first; i < rest.size(); ++i) {
        const auto& a = rest[i];
        const Elem* opt = nullptr;
        for (auto& e : shape)
            if (e.kind == Elem::Flag || e.kind == Elem::Option)
                for (auto& w : e.words)
                    if (a == w) opt = &e;
        if (opt && opt->kind == Elem::Option) {
            if (i + 1 >= rest.size()) usage(a + " needs a value" + usage_hint);
            check_value(opt->name, rest[i + 1]);
            args.opts[opt->words[0]] = rest[++i];
        } else if (opt) {
            for (auto& w : opt->words)
                if (args.has(w) && w != a) usage(w + " and " + a + " exclude each other");
            args.opts[a] = "";
        } else if (a.size() > 1 && a[0] == '-' && !looks_like_number(a) &&
                   !(positional.size() && positional.back()->kind == Elem::Rest &&
                     given.size() >= positional.size() - 1)) {
            usage(verb + ": unknown option '" + a + "'" + usage_hint);
        } else {
            given.push_back(a);
        }
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (i >= positional.size())
            usage(verb + ": unexpected argument '" + given[i] + "'" + usage_hint);
        const Elem& e = *positional[i];
        if (e.kind == Elem::Rest) break;
        if (e.kind == Elem::Choice) {
            bool known = false;
            for (auto& w : e.words) known |= given[i] == w;
            if (!known) usage(verb + " wants " + either(e.words) + ", not '" + given[i] + "'");
        } else {
            check_value(e.name, given[i]);
        }
    }
    for (std::size_t i = given.size(); i < positional.size(); ++i) {
        const Elem& e = *positional[i];
        if (e.optional || e.kind == Elem::Rest) continue;
        usage(verb + ": missing " + (e.kind == Elem::Choice ? either(e.words) : e.name) +
              usage_hint);
    }
    args.pos = given;
    return {row, args};
}

}  // namespace
}  // namespace lumo::ctl

int main(int argc, char** argv) {
    using namespace lumo::ctl;
    std::string dir;
    int i = 1;
    // Options of the tool itself come before the verb.
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            print_help();
            return kDone;
        }
        if (a == "--version") {
            std::printf("lumo-devctl %s\n", LUMO_VERSION);
            return kDone;
        }
        if (a == "--device") {
            if (i + 1 >= argc || !*argv[i + 1]) usage("--device needs a folder");
            dir = argv[++i];
        } else if (a.rfind("--device=", 0) == 0) {
            dir = a.substr(9);
            if (dir.empty()) usage("--device needs a folder");
        } else {
            usage("unknown option '" + a + "' (lumo-devctl --help lists the options)");
        }
    }
    if (i >= argc) usage("no verb given (lumo-devctl --help lists them)");
    std::string verb = argv[i++];
    std::vector<std::string> rest(argv + i, argv + argc);
    for (const auto& a : rest)
        if (a == "--help") {
            bool known = false;
            for (const auto& v : verbs()) known |= verb == v.name;
            if (!known) usage("unknown verb '" + verb + "' (lumo-devctl --help lists them)");
            print_verb_help(verb);
            return kDone;
        }
    auto [row, args] = match(verb, rest);
    if (dir.empty()) dir = default_dir();
    Ctl ctl(dir);
    return row->handler(ctl, args);
}
