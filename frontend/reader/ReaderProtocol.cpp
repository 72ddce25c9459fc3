#include "ReaderProtocol.h"

#include <cerrno>
#include <cstdlib>

namespace frontend {

namespace {

struct Word {
	const char* word;
	int numbers;
};

const Word kWords[] = {
	{"kind", 1},
	{"planned", 1},
	{"header", 1},
	{"reading", 1},
	{"page", 2},
	{"done", 2},
	{"failed", 1},
	{"read", 1},
};

}  // namespace

int reader_message_numbers(const std::string& word)
{
	for (const Word& known : kWords) {
		if (word == known.word)
			return known.numbers;
	}
	return -1;
}

std::string format_reader_message(const std::string& word, const std::vector<int64>& numbers,
	const std::string& text)
{
	std::string line = word;
	for (int64 number : numbers)
		line += " " + std::to_string(number);
	if (!text.empty()) {
		line += " ";
		for (char c : text)
			line += c == '\n' || c == '\r' ? ' ' : c;
	}
	if (line.size() > kMaxReaderLine - 1)
		line.resize(kMaxReaderLine - 1);
	return line + "\n";
}

bool parse_reader_message(const std::string& line, ReaderMessage* message)
{
	if (line.size() >= kMaxReaderLine)
		return false;
	size_t space = line.find(' ');
	message->word = line.substr(0, space);
	message->numbers.clear();
	message->text.clear();
	int count = reader_message_numbers(message->word);
	if (count < 0)
		return false;
	size_t position = space == std::string::npos ? line.size() : space + 1;
	for (int i = 0; i < count; i++) {
		if (position >= line.size())
			return false;
		const char* start = line.c_str() + position;
		char* end = nullptr;
		errno = 0;
		long long value = strtoll(start, &end, 10);
		if (end == start || errno != 0 || (*end != ' ' && *end != '\0'))
			return false;
		message->numbers.push_back(value);
		position = static_cast<size_t>(end - line.c_str()) + (*end == ' ' ? 1 : 0);
	}
	if (position < line.size())
		message->text = line.substr(position);
	return true;
}

}  // namespace frontend
