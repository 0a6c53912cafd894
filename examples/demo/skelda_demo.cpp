// skelda_demo.cpp: the database component on a small demo database, driven by member name exactly as the
// gateway and the client library drive it: create "Skelda.DBConnect" by ProgID, DBInit, take a channel,
// run statements, open a cursor, move, read and change fields, and fetch a whole result with All.
//
//   skelda-demo [database file]     (default: a new file in a temporary folder, removed at the end)
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/Conversions.h"
#include "dbcomponent/SkeldaClasses.h"
#include "platform/object/ClassRegistry.h"

namespace {

// Prints the channel's oldest error entry, if any, and clears the list; returns whether there was one.
bool report(Dispatch& channel, const char* step) {
    const std::string entry = vb::to_text(channel.call("DError"));
    if (entry.empty()) return false;
    const auto sep = entry.find('\x02');
    std::printf("  %s failed: %s (error %s)\n", step, entry.substr(sep + 1).c_str(), entry.substr(0, sep).c_str());
    channel.call("ErrClear");
    return true;
}

void print_all(Dispatch& channel, const std::string& statement) {
    channel.call("OpenCursor", {Variant(statement), Variant(int32_t{0}), Variant(int32_t{1})});
    const std::string all = vb::to_text(channel.call("All", {Variant("AlbumId"), Variant("Title"), Variant("Year")}));
    report(channel, "All");
    channel.call("CloseCursor");  // a channel opens one cursor at a time
    // All gives the cells of every record, three per record, each followed by the separator.
    std::string_view rest = all;
    int cell = 0;
    while (!rest.empty()) {
        const auto sep = rest.find('\x02');
        std::printf(cell % 3 == 0 ? "  %-4.*s" : cell % 3 == 1 ? "%-20.*s" : "%.*s", static_cast<int>(rest.substr(0, sep).size()),
                    rest.data());
        if (++cell % 3 == 0) std::printf("\n");
        rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_skelda_classes();
    std::string folder, path;
    if (argc > 1) {
        path = argv[1];
    } else {
        char pattern[] = "/tmp/skelda-demo.XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        folder = pattern;
        path = folder + "/demo.db";
    }

    try {
        const DispatchPtr connect = ClassRegistry::instance().create("Skelda.DBConnect");
        const bool opened = vb::to_bool(connect->call(
            "DBInit", {Variant("SQLite"), Variant("Data Source=" + path), Variant(int16_t{30}), Variant(int16_t{5}),
                       Variant(int32_t{2})}));
        std::printf("DBInit on %s: %s\n", path.c_str(), opened ? "True" : "False");
        if (!opened) return 1;

        const DispatchPtr channel = object_of(connect->call("Channel"));
        channel->call("Direct", {Variant("CREATE TABLE IF NOT EXISTS Album (AlbumId INTEGER PRIMARY KEY, "
                                         "Title TEXT NOT NULL, Year INTEGER)")});
        report(*channel, "CREATE TABLE");
        const Variant added = channel->call(
            "Direct", {Variant("INSERT INTO Album (Title, Year) VALUES ('Blue Train', 1957), ('Kind of Blue', 1959), "
                               "('A Love Supreme', 1965), ('Mingus Ah Um', 1959)")});
        std::printf("Direct INSERT: %s records\n", vb::to_text(added).c_str());

        std::printf("\nAll albums:\n");
        print_all(*channel, "SELECT AlbumId, Title, Year FROM Album ORDER BY AlbumId");

        // Keyset cursor, optimistic locking: change one record and add one.
        channel->call("OpenCursor", {Variant("SELECT AlbumId, Title, Year FROM Album WHERE Year = 1959"),
                                     Variant(int32_t{1}), Variant(int32_t{3})});
        std::printf("\nRowCount of the 1959 albums: %s\n", vb::signed_text(vb::to_int64(channel->call("RowCount"))).c_str());
        channel->call("Move", {Variant("last")});
        std::printf("Last of them: %s\n", vb::to_text(channel->get("", {Variant("Title")})).c_str());
        channel->put("", {Variant("Year"), Variant("1960")});
        channel->call("Update");
        report(*channel, "Update");
        channel->call("Add");
        channel->put("", {Variant("Title"), Variant("Giant Steps")});
        channel->put("", {Variant("Year"), Variant(int32_t{1960})});
        channel->call("Update");
        report(*channel, "Add");
        channel->call("CloseCursor");

        // A failing statement is recorded, never thrown.
        channel->call("Direct", {Variant("INSERT INTO Album (Title) VALUES (NULL)")});
        std::printf("\nInserting an album without a title:\n");
        report(*channel, "INSERT");

        std::printf("\nAlbums after the edits:\n");
        print_all(*channel, "SELECT AlbumId, Title, Year FROM Album ORDER BY AlbumId");
    } catch (const ComError& e) {
        std::fprintf(stderr, "error %d (%s): %s\n", e.number(), e.source().c_str(), e.description().c_str());
        return 1;
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
    return 0;
}
