#include "theme_table.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

namespace lumo::theme {
namespace {

bool parse_int(const std::string& s, int& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

bool parse_size(const std::string& s, int& out) {
    if (s == "W") { out = -1; return true; }
    if (s == "H") { out = -2; return true; }
    return parse_int(s, out) && out > 0;
}

// Expands one brace group: "a{0..2}b" -> a0b a1b a2b, "x{A,B}" -> xA xB. Counted ranges keep the
// width of their first bound, so {01..44} gives 01, 02, ... 44.
bool expand(const std::string& path, std::vector<std::pair<std::string, std::string>>& out) {
    auto open = path.find('{');
    if (open == std::string::npos) {
        // A single picture is known by its file name without extension (C for C.png).
        auto slash = path.rfind('/'), dot = path.rfind('.');
        size_t from = slash == std::string::npos ? 0 : slash + 1;
        out.emplace_back(path, path.substr(from, dot == std::string::npos || dot < from ? std::string::npos : dot - from));
        return true;
    }
    auto close = path.find('}', open);
    if (close == std::string::npos) return false;
    std::string head = path.substr(0, open), tail = path.substr(close + 1);
    std::string body = path.substr(open + 1, close - open - 1);
    auto dots = body.find("..");
    if (dots != std::string::npos) {
        std::string a = body.substr(0, dots), b = body.substr(dots + 2);
        int from = 0, to = 0;
        if (!parse_int(a, from) || !parse_int(b, to) || from > to) return false;
        for (int i = from; i <= to; ++i) {
            std::string n = std::to_string(i);
            while (n.size() < a.size()) n.insert(n.begin(), '0');
            out.emplace_back(head + n + tail, n);
        }
        return true;
    }
    std::stringstream ss(body);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.empty()) return false;
        out.emplace_back(head + item + tail, item);
    }
    return true;
}

int screen_units(int size, const Profile& profile) {
    if (size == -1) return profile.screen_width;
    if (size == -2) return profile.screen_height;
    return size * profile.scale;
}

}  // namespace

Table read_table(const std::string& path) {
    Table table;
    std::ifstream in(path);
    if (!in) {
        table.error = "cannot open " + path;
        return table;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ss(line);
        std::string file, group, w, h, cells, rows, mode, art, arg;
        if (!(ss >> file >> group >> w >> h >> cells >> rows >> mode >> art)) {
            table.error = path + ":" + std::to_string(number) + ": too few columns";
            return table;
        }
        std::getline(ss >> std::ws, arg);
        Picture base;
        base.group = group;
        base.art = art;
        base.arg = arg;
        base.line = number;
        bool ok = parse_size(w, base.width) && parse_size(h, base.height) &&
                  parse_int(cells, base.cells) && base.cells > 0 &&
                  parse_int(rows, base.rows) && base.rows > 0;
        if (mode == "alpha") base.mode = Mode::Alpha;
        else if (mode == "key") base.mode = Mode::Key;
        else if (mode == "opaque") base.mode = Mode::Opaque;
        else ok = false;
        std::vector<std::pair<std::string, std::string>> names;
        if (!ok || !expand(file, names)) {
            table.error = path + ":" + std::to_string(number) + ": bad row";
            return table;
        }
        for (auto& [name, item] : names) {
            Picture p = base;
            p.path = name;
            p.item = item;
            table.pictures.push_back(std::move(p));
        }
    }
    if (table.pictures.empty()) table.error = path + ": no pictures";
    return table;
}

int pixel_width(const Picture& p, const Profile& profile) { return screen_units(p.width, profile); }
int pixel_height(const Picture& p, const Profile& profile) { return screen_units(p.height, profile); }

std::optional<std::string> stage_path(const Picture& p, const Profile& profile) {
    if (p.group == "sample") {
        if (std::string_view(profile.name) != kProfiles[0].name) return std::nullopt;
        return std::string(kPicturesDir) + "/" + p.path;
    }
    return std::string(profile.gfx_dir) + "/" + p.path;
}

bool is_blank(const Picture& p) { return p.art == "blank"; }

}  // namespace lumo::theme
