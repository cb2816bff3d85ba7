#include "csv_export.h"
#include "format.h"
#include "support/support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// RFC 4180 read back: fields split at commas, quoted fields may hold commas, doubled
// quotes and line breaks; records end with CRLF.
std::vector<std::vector<std::string>> parse(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string cell;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                cell += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                cell += text[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::move(cell));
            cell.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.back().push_back(std::move(cell));
            cell.clear();
            rows.emplace_back();
        } else {
            cell += c;
        }
    }
    rows.pop_back(); // after the last CRLF
    return rows;
}

TEST(CsvExport, RoundTripEqualsTheStore) {
    usage::Store store;
    store.load_payload("B x\n"
                       "D eth0 20241231 100 200\nD eth0 20250101 18446744073709551615 0\n"
                       "D a,b\"c 20260301 5 6\nD wlan0 20260302 7 8\nD * 20260302 99 99\n");
    const auto rows = parse(csv::build(store));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"date", "device", "received", "sent"}));
    size_t n = 1;
    for (const std::string& name : store.interfaces()) {
        store.each_day(name, [&](int day, const usage::Sum& s) {
            ASSERT_LT(n, rows.size());
            const std::vector<std::string> want = {fmt::date(day), name, std::to_string(s.rx),
                                                   std::to_string(s.tx)};
            EXPECT_EQ(rows[n++], want);
        });
    }
    EXPECT_EQ(n, rows.size()) << "the total of all devices is no device of its own";
    EXPECT_EQ(n, 5u);
}

TEST(CsvExport, QuotesFieldsThatNeedIt) {
    struct Case {
        const char *in, *out;
    } cases[] = {{"eth0", "eth0"},
                 {"a,b", "\"a,b\""},
                 {"say \"hi\"", "\"say \"\"hi\"\"\""},
                 {"two\nlines", "\"two\nlines\""},
                 {"cr\r", "\"cr\r\""},
                 {"", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(csv::field(c.in), c.out);
        EXPECT_EQ(parse(csv::field(c.in) + "\r\n"),
                  (std::vector<std::vector<std::string>>{{c.in}}));
    }
}

TEST(CsvExport, WritesAtomically) {
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/out.csv";
    EXPECT_EQ(csv::write_atomic(path, "old"), "");
    EXPECT_EQ(csv::write_atomic(path, "new"), "");
    EXPECT_EQ(testsupport::read_file(path), "new");
    EXPECT_NE(csv::write_atomic(dir.path() + "/missing/out.csv", "x"), "");
    EXPECT_EQ(csv::file_name(20270105), "velmora-statistics-2027-01-05.csv");
}

TEST(CsvExport, FullDiskLeavesNoPartialFile) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root (CI runs as root)";
    testsupport::TempDir dir;
    const std::string report = testsupport::in_child([&](testsupport::Report& r) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
            r.text = "skip: no private mount namespace here";
            return;
        }
        testsupport::write_file(dir.path() + "/stats.csv", "kept");
        const std::string err =
            csv::write_atomic(dir.path() + "/stats.csv", std::string(1 << 20, 'x'));
        r.check(!err.empty(), "a write to a full disk reported success");
        r.eq("old file", testsupport::read_file(dir.path() + "/stats.csv"), "kept");
        int entries = 0;
        if (DIR* d = opendir(dir.path().c_str())) {
            while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
            closedir(d);
        }
        r.check(entries == 1, "a partial file was left behind");
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

} // namespace
