// The web page: HTML with its style and script inline, made at build time
// from the files in web/page.
#pragma once

#include <string>

const std::string& webPage();
