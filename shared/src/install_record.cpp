#include "install_record.h"

#include "file.h"
#include "temporary_file.h"

#include <sstream>
#include <utility>
#include <vector>

namespace installrecord {
namespace {

constexpr const char* kHeader = "# Orvandel install record 1";

bool NeedsEscape(unsigned char byte) {
  return byte == '%' || byte < 0x20 || byte == 0x7F;
}

std::string EncodePath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char character : path) {
    const auto byte = static_cast<unsigned char>(character);
    if (NeedsEscape(byte)) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += character;
    }
  }
  return encoded;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

bool DecodePath(const std::string& encoded, std::string& path) {
  path.clear();
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path.push_back(encoded[i]);
      continue;
    }
    if (i + 2 >= encoded.size())
      return false;
    const int high = HexValue(encoded[i + 1]);
    const int low = HexValue(encoded[i + 2]);
    if (high < 0 || low < 0)
      return false;
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return IsSafeRelativePath(path);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos)
      return fields;
    start = tab + 1;
  }
}

template <class Number> bool ParseNumber(const std::string& text, Number& value) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = static_cast<Number>(std::stoull(text));
  return true;
}

bool ParseLine(const std::string& line, InstallRecord& record) {
  const std::vector<std::string> fields = SplitTabs(line);
  std::string path;
  if (fields[0] == "D" && fields.size() == 2 && DecodePath(fields[1], path)) {
    record.folders.insert(path);
    return true;
  }
  RecordedFile file;
  if (fields[0] == "F" && fields.size() == 5 && ParseNumber(fields[1], file.size) &&
      ParseNumber(fields[2], file.mtimeSeconds) && ParseNumber(fields[3], file.mtimeNanoseconds) &&
      file.mtimeNanoseconds < 1000000000 && DecodePath(fields[4], path)) {
    record.files[path] = file;
    return true;
  }
  return false;
}

constexpr const char* kReading = "čtení záznamu instalace";
constexpr const char* kWritingRecord = "zápis záznamu instalace";

// A record that cannot be read, or is none: code is the system's or a RecordError with its detail.
bool FailReading(Failure& failure, const std::string& path, std::error_code code,
                 std::string detail = std::string()) {
  failure = Failure{kReading, path, code, std::move(detail)};
  return false;
}

// The whole file, refusing what is no regular file (a pipe would block) or far too large.
bool ReadWhole(const std::string& path, std::string& content, Failure& failure) {
  Failure reading;
  if (ReadWholeFile(path, static_cast<std::size_t>(kMaxRecordBytes), content, reading))
    return true;
  if (reading.code == FileError::kNotRegularFile)
    return FailReading(failure, path, RecordError::kNotRegularFile, "záznam není obyčejný soubor");
  if (reading.code == FileError::kTooLarge) {
    return FailReading(failure, path, RecordError::kTooLarge,
                       "záznam je příliš velký (více než " + std::to_string(kMaxRecordBytes / (1024 * 1024)) +
                           " MiB), nejde o záznam instalace");
  }
  return FailReading(failure, path, reading.code);
}

// The record's lines for the entries: folders first, so that a folder is on record before the files
// placed in it.
std::string EntryLines(const InstallRecord& record) {
  std::string text;
  for (const std::string& folder : record.folders)
    text += "D\t" + EncodePath(folder) + "\n";
  for (const auto& [file, recorded] : record.files) {
    text += "F\t" + std::to_string(recorded.size) + "\t" + std::to_string(recorded.mtimeSeconds) + "\t" +
            std::to_string(recorded.mtimeNanoseconds) + "\t" + EncodePath(file) + "\n";
  }
  return text;
}

} // namespace

bool IsSafeRelativePath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string::npos)
    return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string component =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (component.empty() || component == "." || component == "..")
      return false;
    if (slash == std::string::npos)
      return true;
    start = slash + 1;
  }
}

const std::error_category& RecordCategory() {
  class Category final : public std::error_category {
  public:
    const char* name() const noexcept override { return "install record"; }
    std::string message(int value) const override {
      switch (static_cast<RecordError>(value)) {
      case RecordError::kNotRegularFile:
        return "not a regular file";
      case RecordError::kTooLarge:
        return "too large for an install record";
      case RecordError::kNotARecord:
        return "not an install record (first line)";
      case RecordError::kDamagedLine:
        return "a line is not a record entry";
      }
      return "unknown install record error";
    }
  };
  static const Category category;
  return category;
}

std::error_code make_error_code(RecordError error) {
  return {static_cast<int>(error), RecordCategory()};
}

bool ReadInstallRecord(const std::string& path, InstallRecord& record, Failure& failure) {
  std::string content;
  if (!ReadWhole(path, content, failure))
    return failure.code == std::errc::no_such_file_or_directory;
  // An append that a kill cut short left a last line without its newline: its file was never placed.
  const std::size_t lastNewline = content.rfind('\n');
  if (lastNewline != std::string::npos)
    content.erase(lastNewline + 1);
  std::istringstream lines(content);
  std::string line;
  if (!std::getline(lines, line) || line != kHeader)
    return FailReading(failure, path, RecordError::kNotARecord,
                       "soubor není záznamem instalace (první řádek)");
  InstallRecord read;
  for (int number = 2; std::getline(lines, line); ++number) {
    if (line.empty())
      continue;
    if (!ParseLine(line, read))
      return FailReading(failure, path, RecordError::kDamagedLine,
                         "záznam je poškozen (řádek " + std::to_string(number) + ")");
  }
  record = std::move(read);
  return true;
}

bool WriteInstallRecord(const std::string& path, const InstallRecord& record, Failure& failure) {
  const std::string text = std::string(kHeader) + "\n" + EntryLines(record);
  TemporaryFile temporary = TemporaryFile::CreateBeside(path, 0644);
  int code = temporary.valid() ? 0 : temporary.error();
  if (code == 0)
    code = temporary.write(text);
  if (code == 0)
    code = temporary.finish();
  if (code == 0)
    code = temporary.commit(/*durable=*/true);
  return code == 0 || Fail(code, kWritingRecord, path, failure);
}

bool AppendEntries(int fd, const std::string& path, const InstallRecord& entries, Failure& failure) {
  const std::string text = EntryLines(entries);
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t count = write(fd, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return Fail(errno, kWritingRecord, path, failure);
    written += static_cast<std::size_t>(count);
  }
  while (fsync(fd) != 0) {
    if (errno != EINTR)
      return Fail(errno, kWritingRecord, path, failure);
  }
  return true;
}

void MergeInto(InstallRecord& into, const InstallRecord& more) {
  for (const auto& [file, recorded] : more.files)
    into.files[file] = recorded;
  into.folders.insert(more.folders.begin(), more.folders.end());
}

} // namespace installrecord
