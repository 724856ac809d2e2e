#pragma once

#include "System/Net/MultiStreamDownload/DownloadStreamOwner.h"
#include "System/Platform.h"
#include "System/Win32/HandleHolder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace OV::System::Win32
{
class CThread;
}

namespace OV::System::Net::MultiStreamDownload
{

// The whole-download record, kept in T + ".downloadstate" (16 bytes, little-endian): how big the file is
// and into how many streams it was split, so that a later run resumes with the same plan.
class DownloadProgress
{
public:
    static constexpr std::uint32_t kVersion = 2;
    static constexpr std::size_t kFileSize = 16;

    explicit DownloadProgress(std::wstring target);
    DownloadProgress(std::wstring target, std::uint32_t threadsUsed, std::uint32_t downloadSize);

    // True when the file exists, opens, is read whole and its checksum matches; never throws. The fields
    // are taken over as they are: the caller decides whether they fit.
    bool Read();
    // Computes the checksum and replaces the file. Throws CException when it cannot be opened or written.
    void Write();
    // A missing file is no error.
    static void Delete(const std::wstring& target);

    static std::wstring FileName(const std::wstring& target);
    // A plan a download can resume: this version, and one stream or two over at least two bytes (the
    // stream files the clean-up knows are .0 and .1).
    bool IsUsable() const
    {
        return Version == kVersion &&
               (ThreadsUsed == 1 || (ThreadsUsed == kMaxStreams && DownloadSize >= kMaxStreams));
    }
    // "<prefix>;  <T>; Version=2; ThreadsUsed=1", for error messages.
    std::wstring Describe(const std::wstring& prefix) const;

    std::uint32_t Version = kVersion;
    std::uint32_t DownloadSize = 0;
    std::uint32_t ThreadsUsed = 0;
    std::uint32_t Checksum = 0;

private:
    void Encode(unsigned char (&bytes)[kFileSize]) const;
    void Decode(const unsigned char (&bytes)[kFileSize]);

    std::wstring m_Target;
};

// One stream's record, kept in T + "." + index (76 bytes, little-endian): the offset up to which this
// stream's bytes are in the cache file, and what the server said about the file when they were fetched.
class StreamProgress
{
public:
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::size_t kFileSize = 76;
    static constexpr std::size_t kLastModifiedSize = 50; // 49 characters and a NUL at most

    StreamProgress(std::wstring target, std::uint32_t streamIndex);
    StreamProgress(std::wstring target, std::uint32_t streamIndex, std::uint32_t offset,
                   std::uint32_t downloadSize, const std::string& lastModified, std::uint32_t threadsUsed);

    // As DownloadProgress::Read; the open retries end early when stopOwner is asked to stop.
    bool Read(Win32::CThread& stopOwner);
    // The same from a thread that is not a stream's: the open retries run their whole course.
    bool Read();
    // Opens, writes and closes the file (CStreamProgressFile keeps it open for many writes).
    void Write(Win32::CThread& stopOwner);
    static void Delete(const std::wstring& target, std::uint32_t streamIndex);

    static std::wstring FileName(const std::wstring& target, std::uint32_t streamIndex);
    std::wstring Describe(const std::wstring& prefix) const;
    // A record that was read belongs to stream streamIndex of a download of streamCount streams.
    bool Fits(std::uint32_t streamIndex, std::uint32_t streamCount) const
    {
        return Version == kVersion && StreamIndex == streamIndex && ThreadsUsed == streamCount;
    }

    // The stored text, cut to 49 characters when it was longer.
    std::string GetLastModified() const;
    void SetLastModified(const std::string& text);

    std::uint32_t Version = kVersion;
    std::uint32_t StreamIndex = 0;
    std::uint32_t Offset = 0;
    std::uint32_t DownloadSize = 0;
    std::uint32_t ThreadsUsed = 0;
    char LastModified[kLastModifiedSize] = {};
    std::uint16_t Padding = 0;
    std::uint32_t Checksum = 0;

private:
    friend class CStreamProgressFile;

    void Encode(unsigned char (&bytes)[kFileSize]) const;
    void Decode(const unsigned char (&bytes)[kFileSize]);
    bool ReadFrom(Win32::CThread* stopOwner);
    void WriteTo(HANDLE file, bool setEnd);

    std::wstring m_Target;
};

// What a download's bytes belong to, kept in T + ".origin": the identity its owner gave it (the address,
// and whatever else names the file) and the entity tag the server sent for it. A later download for T
// resumes only bytes of the same identity, and an answer with another strong entity tag means the server's
// file changed. Little-endian: version, identity length, tag length, the two texts, CRC-32 of all before.
class DownloadOrigin
{
public:
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::size_t kMaxIdentity = 16384;
    // Every tag a stream can read (its header buffer holds 1040 bytes) fits.
    static constexpr std::size_t kMaxEntityTag = 1040;

    explicit DownloadOrigin(std::wstring target);
    DownloadOrigin(std::wstring target, std::string identity, std::string entityTag);

    // True when the file exists and holds a whole record of this version; never throws.
    bool Read();
    // Replaces the file; throws CException when it cannot be opened or written.
    void Write();
    static std::wstring FileName(const std::wstring& target);

    std::string Identity;
    std::string EntityTag;

private:
    std::wstring m_Target;
};

// A stream's state file held open (exclusively) by its writer for a whole transfer, so that the record
// after each block costs one positioned write instead of an open, a write and a close: under Wine the
// open and the close are round trips to the server that would cost more than the block's own write.
class CStreamProgressFile
{
public:
    // Opens or creates the record's file with the retries of every state-file open; throws CException
    // "File open failed;  ..." when it cannot.
    CStreamProgressFile(const StreamProgress& record, Win32::CThread& stopOwner);
    // Replaces the file's record with this one; throws "Write stream progress failed;  ...".
    void Write(StreamProgress& record);

private:
    Win32::CHandleHolder m_File;
    bool m_Written = false;
};

} // namespace OV::System::Net::MultiStreamDownload
