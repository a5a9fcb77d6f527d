// Placeholder until this piece is built.
#include "tuvrek/records.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::string records_path() { unbuilt("records_path"); }
std::vector<Record> read_mount_records() { unbuilt("read_mount_records"); }
std::vector<Record> parse_mount_records(std::string_view) { unbuilt("parse_mount_records"); }
std::string serialize_mount_records(const std::vector<Record>&) { unbuilt("serialize_mount_records"); }
Result<void, std::string> write_mount_records(const std::vector<Record>&) { unbuilt("write_mount_records"); }
Result<std::optional<Record>, std::string> take_record(std::string_view) { unbuilt("take_record"); }
}  // namespace tuvrek
