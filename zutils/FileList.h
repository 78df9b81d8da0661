// Listing the files that match a wildcard ('*' and '?' in the name part only).
#pragma once


namespace ZUtils {

// Owned list of file names (each a separate heap string).
class FileNameList {
 public:
  FileNameList() = default;
  ~FileNameList() { clear(); }
  FileNameList(const FileNameList&) = delete;
  FileNameList& operator=(const FileNameList&) = delete;

  int count() const { return itemCount; }
  // Null when i is outside 0 .. count() - 1.
  const char* item(int i) const { return (i >= 0 && i < itemCount) ? items[i] : nullptr; }
  // Frees every name and the array.
  void clear();

  int position = 0;  // read position, 0 after a listing

 private:
  friend bool listFiles(const char* pattern, FileNameList& list);
  char** items = nullptr;  // itemCount separately allocated strings
  int itemCount = 0;
};

// Lists the entries of the pattern's directory (the part up to its last '/' or '\';
// the current directory when it has none) whose name matches the rest of the pattern.
// Entries "." and names beginning ".." are skipped. Each stored name is directory part +
// entry name, sorted byte-wise. False, with an empty list, when the directory cannot be
// read or nothing matches.
bool listFiles(const char* pattern, FileNameList& list);

}  // namespace ZUtils
