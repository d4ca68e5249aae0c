// A file the tool writes for the user (process's OUT): written under a
// temporary name in the destination's folder and renamed onto the
// destination only when complete, so that a failed, refused or interrupted
// run leaves an existing file as it was and no partial one. The temporary file
// is removed when the object ends uncommitted, and also when SIGINT, SIGTERM
// or SIGHUP end the process, or a crash does (a module run in this process).
// A destination that exists and is no regular file (a device, a pipe) is
// written directly. One at a time per process. POSIX only.
#ifndef TOOLS_QXHOST_OUTPUTFILE_H
#define TOOLS_QXHOST_OUTPUTFILE_H

#include <string>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Makes the temporary file beside `destination` (its links followed); false
  // and `error` if the folder takes no new file.
  bool Create(const std::string& destination, std::string* error);
  // The temporary file's descriptor, open for reading and writing; this object
  // closes it.
  int Descriptor() const { return m_descriptor; }
  // Closes the temporary file and renames it onto the destination, with the
  // permissions a new file gets (an existing destination's, if there is one);
  // false and `error` if that fails (the temporary file is removed).
  bool Commit(std::string* error);
  // The temporary file's path ("" when there is none).
  const std::string& TemporaryPath() const { return m_temporary; }

 private:
  void Discard();

  std::string m_destination;
  std::string m_temporary;
  int m_descriptor = -1;
};

#endif  // TOOLS_QXHOST_OUTPUTFILE_H
