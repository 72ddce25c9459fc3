// What the document reader (tessary-reader) and the process that started it say to each
// other over the reader's control socket: one line per message, a word and its values.
//
// Reader to its parent, in this order:
//   kind INDEX NAME          document INDEX is read as NAME ("PDF", "PNG", "JPEG", "text")
//   planned PAGES            every document opened and the spool file made; it will hold
//                            PAGES pages
//   header END               the spool file is whole up to END: its header and settings
//   reading INDEX            the pages that follow are document INDEX's
//   page END START           one more page, from START; the file is whole up to END
//   done END PAGES           the spool file is complete
//   failed INDEX REASON...   document INDEX failed (before or while it was spooled); -1 for
//                            the spool file or the settings
// Parent to reader:
//   read PAGES               the driver has read PAGES pages whole: the reader may write
//                            pages up to PAGES + ahead - 1 (from 0)
//
// Reasons are the documents' own words on one line; line breaks in them become spaces.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <vector>

namespace frontend {

struct ReaderMessage {
	std::string word;               // "kind", "planned", ...
	std::vector<int64> numbers;     // the message's numbers, in order
	std::string text;               // what follows them: a kind's name, a reason
};

// "word 1 2 text\n"
std::string format_reader_message(const std::string& word, const std::vector<int64>& numbers,
	const std::string& text = std::string());

// Reads one line (without its line break) into a message; false for a line that is not one
// (an unknown word, a number where none parses, a line too long).
bool parse_reader_message(const std::string& line, ReaderMessage* message);

// How many numbers each word takes; -1 for a word that is not one.
int reader_message_numbers(const std::string& word);

// Lines longer than this are not messages.
inline constexpr size_t kMaxReaderLine = 4096;

}  // namespace frontend
