// The page's own files (outputs/report/), built into the program by
// embed_page.cmake so that a report needs nothing beside the program.
#pragma once

#include <string_view>

namespace lagscan::matrix {

std::string_view report_page_html();  // the layout, with @style@, @script@, @data@ and @version@ to fill
std::string_view report_page_css();
std::string_view report_page_js();
std::string_view report_page_version();

}  // namespace lagscan::matrix
