#include "names_list.h"

namespace dazoroz::store {

// Placeholders until the names file reader and writer land.
void loadNames(NamesList&, const std::filesystem::path&) {}
bool saveNames(const NamesList&, const std::filesystem::path&) { return false; }

} // namespace dazoroz::store
