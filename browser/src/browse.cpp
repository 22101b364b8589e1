// Browsing: the files of a folder, the folder list, sorting, refreshing, deleting, and the
// thumbnail requests to the worker and their results.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "lumo/browser/browser.h"
#include "lumo/platform/text.h"

namespace lumo::browser {

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::optional<fs::path> host_folder(Context& c, std::u16string_view folder) {
    return c.p.processes().host_path(folder.empty() ? std::u16string_view(u"\\") : folder);
}

std::u16string child(std::u16string_view folder, std::u16string_view name) {
    return std::u16string(folder) + u"\\" + std::u16string(name);
}

// Pending thumbnails of an old listing are asked again for the new one.
void new_generation(Context& c) {
    ++c.generation;
    for (auto& e : c.entries)
        if (e.thumb == Entry::Thumb::Pending) e.thumb = Entry::Thumb::None;
    std::lock_guard lock(c.jobs.mutex);
    c.jobs.pending.clear();
    c.jobs.generation = c.generation;
}

void scroll_to_selected(Context& c) {
    if (c.selected < 0) return;
    auto l = layout(c);
    int per_row = c.listing == Listing::Pictures ? l.columns : 1;
    int row_h = c.listing == Listing::Pictures ? l.cell : l.row_h;
    int y = (c.selected / per_row) * row_h;
    int view = l.bottom - l.top;
    if (y < c.scroll.offset || y + row_h > c.scroll.offset + view) c.scroll.offset = std::max(0, y - view / 3);
    c.scroll.offset = std::clamp(c.scroll.offset, 0, max_scroll(c));
}

}  // namespace

std::u16string entry_path(const Context& c, int index) {
    if (index < 0 || std::size_t(index) >= c.entries.size()) return {};
    return child(c.folder, c.entries[std::size_t(index)].name);
}

void open_folder(Context& c, std::u16string_view folder, std::u16string_view select) {
    // `folder` may be a view of c.folder itself.
    std::u16string keep_select(select);
    c.folder = std::u16string(folder);
    c.entries.clear();
    c.selected = -1;
    c.scroll = Scroll{};
    if (auto host = host_folder(c, c.folder)) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(*host, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code e2;
            if (!it->is_regular_file(e2)) continue;
            auto name = it->path().filename().u16string();
            if (!listed(c.listing, classify(name))) continue;
            Entry e;
            e.name = name;
            e.time = it->last_write_time(e2);
            c.entries.push_back(std::move(e));
        }
    }
    sort_entries(c.entries, c.sort);
    for (std::size_t i = 0; i < c.entries.size(); ++i)
        if (!keep_select.empty() && equal_no_case(c.entries[i].name, keep_select)) c.selected = int(i);
    c.log.printf("Folder %s (%d)", to_utf8(c.folder).c_str(), int(c.entries.size()));
    new_generation(c);
    scroll_to_selected(c);
    request_thumbnails(c);
}

void open_folder_list(Context& c, std::u16string_view folder_view) {
    std::u16string folder(folder_view);  // may be a view of c.folder_list
    c.folder_list = folder;
    c.folders.clear();
    c.view = View::Folders;
    c.scroll = Scroll{};
    if (!folder.empty()) {
        Entry up;
        up.name = u"..";
        up.folder = true;
        c.folders.push_back(std::move(up));
    }
    std::vector<Entry> found;
    if (auto host = host_folder(c, folder)) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(*host, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code e2;
            if (!it->is_directory(e2)) continue;
            Entry e;
            e.name = it->path().filename().u16string();
            e.folder = true;
            e.time = it->last_write_time(e2);
            found.push_back(std::move(e));
        }
    }
    sort_entries(found, SortOrder{});
    for (auto& e : found) c.folders.push_back(std::move(e));
}

void refresh(Context& c) {
    std::u16string keep = c.selected >= 0 ? c.entries[std::size_t(c.selected)].name : std::u16string();
    int offset = c.scroll.offset;
    open_folder(c, c.folder, keep);
    c.scroll.offset = std::clamp(offset, 0, max_scroll(c));
    request_thumbnails(c);
}

void set_sort(Context& c, SortKey key) {
    if (c.sort.key == key) c.sort.descending = !c.sort.descending;
    else c.sort = SortOrder{key, false};
    std::u16string keep = c.selected >= 0 ? c.entries[std::size_t(c.selected)].name : std::u16string();
    sort_entries(c.entries, c.sort);
    c.selected = -1;
    for (std::size_t i = 0; i < c.entries.size(); ++i)
        if (!keep.empty() && c.entries[i].name == keep) c.selected = int(i);
    new_generation(c);
    request_thumbnails(c);
}

void request_thumbnails(Context& c) {
    if (c.listing != Listing::Pictures || c.view != View::Files || c.entries.empty() || !c.shown) return;
    auto l = layout(c);
    int view = l.bottom - l.top;
    int first_row = std::max(0, c.scroll.offset / std::max(1, l.cell));
    // What is in view, then a screen beyond it either way.
    int rows = view / std::max(1, l.cell) + 2;
    std::vector<std::size_t> order;
    auto add = [&](int row0, int row1) {
        for (int r = row0; r < row1; ++r)
            for (int col = 0; col < l.columns; ++col) {
                long i = long(r) * l.columns + col;
                if (i < 0 || std::size_t(i) >= c.entries.size()) continue;
                if (c.entries[std::size_t(i)].thumb == Entry::Thumb::None) order.push_back(std::size_t(i));
            }
    };
    add(first_row, first_row + rows);
    add(first_row + rows, first_row + 2 * rows);
    add(std::max(0, first_row - rows), first_row);
    // Thumbnails far out of view are let go (the cache gives them back quickly), so a folder of
    // thousands of pictures costs a few screens' worth of memory.
    long keep_from = long(first_row - 3 * rows) * l.columns, keep_to = long(first_row + 4 * rows) * l.columns;
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
        auto& e = c.entries[i];
        if (e.thumb != Entry::Thumb::Ready || (long(i) >= keep_from && long(i) < keep_to)) continue;
        gfx::ReleaseImage(e.image, true);
        e.thumb = Entry::Thumb::None;
    }
    std::optional<fs::path> cache_dir;
    if (!order.empty()) cache_dir = c.p.processes().host_path(c.program_folder + u"\\" + std::u16string(kCacheFolder));
    if (cache_dir) {
        std::error_code ec;
        fs::create_directories(*cache_dir, ec);
    }
    std::vector<ThumbJob> jobs;
    for (auto i : order) {
        auto path = entry_path(c, int(i));
        auto host = c.p.processes().host_path(path);
        if (!host) {
            c.entries[i].thumb = Entry::Thumb::Corrupt;
            continue;
        }
        ThumbJob j;
        j.index = i;
        j.picture = *host;
        j.store = cacheable(c.entries[i].name) && cache_dir.has_value();
        if (cache_dir) j.cache = *cache_dir / fs::path(cache_name(path));
        jobs.push_back(std::move(j));
        c.entries[i].thumb = Entry::Thumb::Pending;
    }
    {
        std::lock_guard lock(c.jobs.mutex);
        c.jobs.generation = c.generation;
        c.jobs.side = l.thumb;
        c.jobs.format = c.screen.format;
        // The newest view first: what the finger shows now matters more than what it left, and
        // what it left far behind is not made at all.
        for (auto& j : c.jobs.pending) {
            if (long(j.index) >= keep_from && long(j.index) < keep_to) jobs.push_back(std::move(j));
            else if (j.index < c.entries.size()) c.entries[j.index].thumb = Entry::Thumb::None;
        }
        c.jobs.pending = std::move(jobs);
        if (c.jobs.pending.empty()) return;
    }
    c.jobs.stop.store(false);
    if (c.start_event) c.p.sync().set_event(c.start_event);
}

void take_thumbnails(Context& c) {
    std::vector<ThumbResult> done;
    {
        std::lock_guard lock(c.jobs.mutex);
        done.swap(c.jobs.done);
    }
    for (auto& r : done) {
        if (r.generation != c.generation || r.index >= c.entries.size()) continue;
        auto& e = c.entries[r.index];
        if (r.source == ThumbSource::Failed) {
            e.thumb = Entry::Thumb::Corrupt;
        } else {
            e.image = std::move(r.image);
            e.thumb = Entry::Thumb::Ready;
        }
    }
}

void delete_selected(Context& c) {
    if (c.selected < 0 || std::size_t(c.selected) >= c.entries.size()) return;
    auto path = entry_path(c, c.selected);
    auto host = c.p.processes().host_path(path);
    std::error_code ec;
    bool ok = host && fs::remove(*host, ec);
    if (host && !ok && !ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
    if (!host) ec = std::make_error_code(std::errc::permission_denied);
    c.log.printf("Delete:%s %d(%d)", to_utf8(path).c_str(), ok ? 1 : 0, ec.value());
    if (!ok) {
        c.p.windows().message_box(c.main_window, u"Deletion Failed - " + to_u16(ec.message()), u"Message", MB_OK);
        return;
    }
    if (auto cache = c.p.processes().host_path(c.program_folder + u"\\" + std::u16string(kCacheFolder) + u"\\" +
                                               cache_name(path)))
        fs::remove(*cache, ec);
    c.entries.erase(c.entries.begin() + c.selected);
    c.selected = -1;
    new_generation(c);
    c.scroll.offset = std::clamp(c.scroll.offset, 0, max_scroll(c));
    request_thumbnails(c);
}

}  // namespace lumo::browser
