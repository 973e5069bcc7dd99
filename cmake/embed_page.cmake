# Writes OUT, a header that holds each of FILES (in DIR) as a string: the page is part of the
# program, and nothing of it is read from the disk when it is served.
set(text "// Made at build time from src/jobs/page/; edit those files.\n#pragma once\n\n#include <string_view>\n\nnamespace jobs::page {\n")
string(REPLACE "," ";" FILES "${FILES}")
foreach(file ${FILES})
    file(READ ${DIR}/${file} content)
    string(MAKE_C_IDENTIFIER ${file} name)
    string(APPEND text "inline constexpr std::string_view ${name} = R\"cscunpack_page(${content})cscunpack_page\";\n")
endforeach()
string(APPEND text "} // namespace jobs::page\n")
file(WRITE ${OUT}.new "${text}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
