// The file dialogs' filters are kept as the program writes them: pairs of
// description and patterns, all joined by "|", with patterns separated by ";".
// The widget toolkit wants one entry per pair, its patterns blank-separated in
// parentheses at the end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelrow {

// "Sys Ex Files (*.syx)|*.syx|All supported Files (*.syx;*.mid)|*.syx;*.mid" gives
// "Sys Ex Files (*.syx)" and "All supported Files (*.syx *.mid)". A description
// that does not end with its patterns in parentheses gets them appended.
std::vector<std::string> DialogNameFilters(std::string_view filter);

} // namespace pelrow
