// Reply texts for the benchmarks, shaped like the local server's own output
// (the same members, Python's ", " and ": " separators, Russian texts written
// as UTF-8, a few escapes). Deterministic: every run reads the same bytes.
#pragma once
#include <string>

// A history page of `count` messages; `variant` changes one message's text,
// so two variants give a changed page and one variant twice an unchanged one.
std::string historyReply(int count, int variant = 0);

// A rooms list of `count` rooms; `variant` changes the last room's title.
std::string roomsReply(int count, int variant = 0);

// A work list of `count` cases (and no tickets), shaped like the server's.
std::string casesReply(int count);

// The accepted reply of the first table that cost the tokenizer most before
// it had parent links: an array of 32767 empty arrays, 32768 values in all.
// Without parent links each closing bracket makes the tokenizer walk back
// over every earlier token to find the open parent.
std::string worstReply();
