# Writes OUT, a header holding every file of the folder DIR as a byte string,
# so the corpus test needs no file access (and runs the same under Wine).
file(GLOB corpus RELATIVE ${DIR} ${DIR}/*.eml ${DIR}/*.log ${DIR}/*.htm)
list(SORT corpus)
set(text "// Generated from tests/retrieval/mime_corpus by embed_corpus.cmake.\n#pragma once\n#include <string_view>\nstruct CorpusFile { const char* name; std::string_view bytes; };\ninline const CorpusFile kMimeCorpusFiles[] = {\n")
foreach(name IN LISTS corpus)
  file(READ ${DIR}/${name} hex HEX)
  file(SIZE ${DIR}/${name} size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  string(APPEND text "  {\"${name}\", std::string_view(\"${escaped}\", ${size})},\n")
endforeach()
string(APPEND text "};\n")
file(WRITE ${OUT}.new "${text}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
