// Placeholder until this piece is built.
#include "tuvrek/config.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::string automount_config_path() { unbuilt("automount_config_path"); }
Result<std::vector<Entry>, std::string> load_automount_config() { unbuilt("load_automount_config"); }
Result<std::vector<Entry>, std::string> parse_automount_config(std::string_view, std::string_view) { unbuilt("parse_automount_config"); }
std::string render_automount_config(const std::vector<Entry>&) { unbuilt("render_automount_config"); }
Result<void, std::string> save_automount_config(const std::vector<Entry>&) { unbuilt("save_automount_config"); }
void add_or_replace_entry(std::vector<Entry>&, Entry) { unbuilt("add_or_replace_entry"); }
std::size_t remove_matching_entries(std::vector<Entry>&, std::string_view) { unbuilt("remove_matching_entries"); }
const Entry* startup_entry_for_uuid(const std::vector<Entry>&, std::string_view) { unbuilt("startup_entry_for_uuid"); }
nlohmann::json entry_to_json(const std::vector<Entry>&) { unbuilt("entry_to_json"); }
}  // namespace tuvrek
