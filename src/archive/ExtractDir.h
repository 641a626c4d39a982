#pragma once

#include <QString>
#include <cstddef>

// The directory that receives members. Files are made only directly inside it, by a
// plain file name, never through a symbolic link and never over an existing entry.
class TExtractDir {
public:
    TExtractDir() = default;
    ~TExtractDir();
    TExtractDir(const TExtractDir&) = delete;
    TExtractDir& operator=(const TExtractDir&) = delete;

    // Opens the directory; 0, or the system's error code when it cannot be opened.
    int Open(const QString& path);
    // True when an entry of that name exists (a dangling link counts).
    bool Exists(const QString& name) const;
    // Creates a new file for writing; -1 with errno set (EEXIST when anything is there).
    int CreateNew(const QString& name) const;
    // Removes a file this directory made.
    void Remove(const QString& name) const;
    // Makes sure a member that failed its check goes, while it is still open as fd (from
    // CreateNew): emptied and marked for deletion through its own handle, so that nothing
    // holding or guarding its name afterwards (a virus scanner, a read-only mark) can keep a
    // damaged image of the right size in the folder. Call it before closing fd.
    void Discard(int fd, const QString& name) const;
    // Writes all of data to fd (from CreateNew); false when the system refuses.
    static bool WriteAll(int fd, const char* data, size_t length);
    // Closes fd (from CreateNew); false when the last writes did not reach the file.
    static bool Close(int fd);

    // Creates and deletes a temporary file with the prefix "tmp" in the folder at path;
    // 0, or the system's error code when that fails.
    static int ProbeWritable(const QString& path);
    // The system's text for one of its error codes.
    static QString ErrorText(int code);

private:
    int m_fd = -1;  // on Windows the folder's HANDLE (handles fit in 32 bits)
    QString m_path; // Windows: the folder's path as opened, where members go when the system
                    // names the folder no other way
};
