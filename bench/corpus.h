// A generated archive for the benchmarks: lists with Japanese names, each
// holding logs of about 8 KB with Japanese subjects and bodies, in the layout
// the program keeps below its working folder.
#pragma once

#include <cstddef>
#include <string>

namespace larkspur::bench {

struct CorpusShape {
  int lists = 30;
  int logs_per_list = 1000;
  int log_bytes = 8 * 1024;
};

// Writes the corpus below the current working folder: "set\" with the seed
// pages copied from `seed_folder` (a native path), the list records and the
// logs from number `first_log` on (so a corpus can grow). Returns the number
// of logs written.
int write_corpus(const CorpusShape& shape, const std::string& seed_folder, int first_log = 0);

// Shift_JIS list name of list `index` (0-based).
std::string corpus_list_name(int index);

// One log of about `bytes` bytes; `serial` makes its subject unique.
std::string corpus_log(int serial, int bytes);

// One log of about `bytes` bytes with a realistic Japanese vocabulary for the
// search figures: words drawn with a Zipf distribution from the headwords of
// Debian's ipadic-common dictionary (/usr/share/chasen/ipadic), particles
// between them, ASCII words, web addresses and numbers. Without the
// dictionary the words come from a small fixed list (said on stderr once).
std::string realistic_corpus_log(int serial, int bytes);

// How many distinct words realistic_corpus_log draws from.
std::size_t realistic_vocabulary_size();

// write_corpus with realistic_corpus_log.
int write_realistic_corpus(const CorpusShape& shape, const std::string& seed_folder);

// Writes `bytes` to the Shift_JIS relative path `path` without forcing them
// to disk (the corpus is scratch data). Native builds only.
bool put_scratch_file(const std::string& path, const std::string& bytes);

}  // namespace larkspur::bench
