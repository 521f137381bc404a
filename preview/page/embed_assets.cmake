# Writes OUTPUT, a C++ source that holds the page's files (in FOLDER) as raw
# string literals, for page_assets().
set(code "// Generated from preview/page/assets by embed_assets.cmake.\n#include \"preview/page/page_assets.h\"\n\nconst std::vector<PageAsset> &page_assets()\n{\n    static const std::vector<PageAsset> assets = {\n")
foreach(entry "index.html|/|text/html; charset=utf-8" "app.js|/app.js|text/javascript; charset=utf-8"
              "style.css|/style.css|text/css; charset=utf-8")
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 file)
  list(GET parts 1 route)
  list(GET parts 2 type)
  file(READ "${FOLDER}/${file}" content)
  string(FIND "${content}" ")page\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the raw string's closing sequence")
  endif()
  string(APPEND code "        {\"${route}\", \"${type}\", R\"page(${content})page\"},\n")
endforeach()
string(APPEND code "    };\n    return assets;\n}\n")
file(WRITE "${OUTPUT}.new" "${code}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
