# Builds the page the program serves from page/index.html with page/style.css
# and page/app.js put inline, as a C++ source holding it in a raw string:
# one self-contained response, nothing fetched from elsewhere.
#   cmake -DPAGE_DIR=... -DOUTPUT=... -P EmbedPage.cmake
file(READ ${PAGE_DIR}/index.html page)
file(READ ${PAGE_DIR}/style.css style)
file(READ ${PAGE_DIR}/app.js script)
string(REPLACE "<!-- style -->" "<style>\n${style}</style>" page "${page}")
string(REPLACE "<!-- script -->" "<script>\n${script}</script>" page "${page}")
set(delimiter "motion_page")
string(FIND "${page}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page contains the raw string's end )${delimiter}\"")
endif()
file(WRITE ${OUTPUT}.part "// Generated from web/page by web/EmbedPage.cmake; edit those files.\n"
  "#include \"web/Page.h\"\n\n"
  "const std::string& webPage() {\n"
  "    static const std::string page = R\"${delimiter}(${page})${delimiter}\";\n"
  "    return page;\n"
  "}\n")
file(RENAME ${OUTPUT}.part ${OUTPUT})
