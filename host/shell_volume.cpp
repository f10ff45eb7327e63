// EFI_SHELL_PROTOCOL of the host firmware model: the shell's file services over
// a host directory standing in for the volume FS0:. Behaviour follows what the
// real shell on a FAT volume was seen to do: a missing file opens as
// EFI_NOT_FOUND with a null handle, directories open, "NUL" is a sink without
// file information, a new file starts with attribute 0 and gains ARCHIVE when
// written, reads come back short at the end and empty at end of file, and a
// directory reads as its entries' information records, its size whole clusters.
// Deleting follows the UEFI Shell's contract for DeleteFile: the handle is closed
// in every case, and a file that stays answers EFI_WARN_DELETE_FAILURE.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "host/model_state.h"

namespace fs = std::filesystem;

namespace {

constexpr UINT64 ModeRead = EFI_FILE_MODE_READ;
constexpr UINT64 ModeReadWrite = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 ModeCreate = EFI_FILE_MODE_CREATE | EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr uint64_t ClusterBytes = 4096;  // PhysicalSize rounds up to this
constexpr INT16 UnspecifiedTimeZone = 2047;
constexpr mode_t NewFileMode = 0644;

// ---- Faults -------------------------------------------------------------------------
// The next unused fault of this kind, consumed; none when there is none left.
std::optional<EFI_STATUS> TakeFault(HostFirmware::Impl &Model, ShellFileOp Op) {
  for (size_t I = 0; I < Model.Config.FileFaults.size(); ++I) {
    if (!Model.FaultUsed[I] && Model.Config.FileFaults[I].Op == Op) {
      Model.FaultUsed[I] = true;
      return Model.Config.FileFaults[I].Status;
    }
  }
  return std::nullopt;
}

void CheckShellTpl(HostFirmware::Impl &Model, const char *Service) {
  if (Model.Tpl > TPL_CALLBACK) {
    RecordUnexpected(Model, std::string(Service) + " called above TPL_CALLBACK");
  }
}

ShellFile *FindFile(HostFirmware::Impl &Model, SHELL_FILE_HANDLE Handle, const char *Service) {
  auto Found = Model.Files.find(Handle);
  if (Found == Model.Files.end()) {
    RecordUnexpected(Model, std::string(Service) + " on an unknown file handle");
    return nullptr;
  }
  return Found->second.get();
}

// ---- Path names ---------------------------------------------------------------------
char AsciiLower(char Character) {
  return (Character >= 'A' && Character <= 'Z') ? static_cast<char>(Character + 32) : Character;
}

bool SameNameIgnoringCase(const std::string &Left, const std::string &Right) {
  if (Left.size() != Right.size()) {
    return false;
  }
  for (size_t I = 0; I < Left.size(); ++I) {
    if (AsciiLower(Left[I]) != AsciiLower(Right[I])) {
      return false;
    }
  }
  return true;
}

// FAT names match ignoring case: use the entry that exists under another case.
std::string ExistingSpelling(const fs::path &Directory, const std::string &Component) {
  std::error_code Error;
  if (fs::exists(Directory / Component, Error)) {
    return Component;
  }
  for (fs::directory_iterator Entry(Directory, Error), End; !Error && Entry != End;
       Entry.increment(Error)) {
    std::string Name = Entry->path().filename().string();
    if (SameNameIgnoringCase(Name, Component)) {
      return Name;
    }
  }
  return Component;
}

bool ValidNameCharacter(CHAR16 Character) {
  if (Character < 0x20 || (Character >= 0xD800 && Character <= 0xDFFF)) {
    return false;
  }
  switch (Character) {
    case u'"':
    case u'*':
    case u':':
    case u'<':
    case u'>':
    case u'?':
    case u'|':
      return false;
    default:
      return true;
  }
}

bool Inside(const fs::path &Root, const fs::path &Path) {
  std::error_code Error;
  fs::path CanonicalRoot = fs::weakly_canonical(Root, Error);
  if (Error) {
    return false;
  }
  fs::path Canonical = fs::weakly_canonical(Path, Error);
  if (Error) {
    return false;
  }
  auto RootPart = CanonicalRoot.begin();
  auto PathPart = Canonical.begin();
  for (; RootPart != CanonicalRoot.end(); ++RootPart, ++PathPart) {
    if (RootPart->empty()) {
      continue;  // trailing separator of the root
    }
    if (PathPart == Canonical.end() || *RootPart != *PathPart) {
      return false;
    }
  }
  return true;
}

// Maps a shell file name to a host path below Root. Accepted: a name relative to
// the volume's root (the current directory of a shell application started from
// FS0:\), components separated by '\' (or '/'), an optional "FS0:" mapping, "."
// and "..". A name that climbs above the root, or holds a character FAT refuses,
// is EFI_INVALID_PARAMETER; another mapping is EFI_NOT_FOUND.
EFI_STATUS ResolveName(HostFirmware::Impl &Model, const CHAR16 *Name, fs::path *HostPath,
                       bool *IsRoot) {
  std::u16string Text(Name);
  size_t Colon = Text.find(u':');
  if (Colon != std::u16string::npos) {
    std::string Mapping = HostUcs2ToUtf8(Text.substr(0, Colon));
    if (!SameNameIgnoringCase(Mapping, "fs0")) {
      return EFI_NOT_FOUND;
    }
    Text = Text.substr(Colon + 1);
  }
  if (Text.empty() && Colon == std::u16string::npos) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<std::u16string> Components;
  std::u16string Current;
  for (size_t I = 0; I <= Text.size(); ++I) {
    if (I == Text.size() || Text[I] == u'\\' || Text[I] == u'/') {
      if (Current == u"..") {
        if (Components.empty()) {
          return EFI_INVALID_PARAMETER;
        }
        Components.pop_back();
      } else if (!Current.empty() && Current != u".") {
        Components.push_back(Current);
      }
      Current.clear();
    } else if (!ValidNameCharacter(Text[I])) {
      return EFI_INVALID_PARAMETER;
    } else {
      Current.push_back(Text[I]);
    }
  }
  fs::path Path = Model.Config.Root;
  for (const std::u16string &Component : Components) {
    Path /= ExistingSpelling(Path, HostUcs2ToUtf8(Component));
  }
  // A symbolic link must not lead out of the volume either.
  if (!Inside(Model.Config.Root, Path)) {
    return EFI_INVALID_PARAMETER;
  }
  *HostPath = Path;
  *IsRoot = Components.empty();
  return EFI_SUCCESS;
}

// ---- Attributes and volume space ------------------------------------------------------
uint64_t AttributeOf(HostFirmware::Impl &Model, const ShellFile &File) {
  if (File.Directory) {
    auto Found = Model.FileAttributes.find(File.Path);
    return EFI_FILE_DIRECTORY | (Found == Model.FileAttributes.end() ? 0 : Found->second);
  }
  auto Found = Model.FileAttributes.find(File.Path);
  if (Found != Model.FileAttributes.end()) {
    return Found->second;
  }
  // A file that was on the volume before the run: ARCHIVE, as files copied in
  // carry, and READ_ONLY when the host file may not be written.
  struct stat Status {};
  uint64_t Attribute = EFI_FILE_ARCHIVE;
  if (::stat(File.Path.c_str(), &Status) == 0 && (Status.st_mode & S_IWUSR) == 0) {
    Attribute |= EFI_FILE_READ_ONLY;
  }
  return Attribute;
}

bool PathIsReadOnly(HostFirmware::Impl &Model, const fs::path &Path) {
  ShellFile Probe;
  Probe.Path = Path;
  return (AttributeOf(Model, Probe) & EFI_FILE_READ_ONLY) != 0;
}

uint64_t VolumeBytesUsed(HostFirmware::Impl &Model) {
  uint64_t Used = 0;
  std::error_code Error;
  for (fs::recursive_directory_iterator Entry(Model.Config.Root, Error), End;
       !Error && Entry != End; Entry.increment(Error)) {
    std::error_code SizeError;
    if (Entry->is_regular_file(SizeError)) {
      uint64_t Size = Entry->file_size(SizeError);
      Used += SizeError ? 0 : Size;
    }
  }
  return Used;
}

// Whether growing a file by Growth bytes still fits on the volume.
bool Fits(HostFirmware::Impl &Model, uint64_t Growth) {
  if (!Model.Config.VolumeBytes || Growth == 0) {
    return true;
  }
  uint64_t Used = VolumeBytesUsed(Model);
  return Used <= *Model.Config.VolumeBytes && Growth <= *Model.Config.VolumeBytes - Used;
}

uint64_t FileSizeOf(const ShellFile &File) {
  struct stat Status {};
  if (File.Fd < 0 || ::fstat(File.Fd, &Status) != 0) {
    return 0;
  }
  return static_cast<uint64_t>(Status.st_size);
}

// ---- Opening -----------------------------------------------------------------------------
SHELL_FILE_HANDLE Register(HostFirmware::Impl &Model, std::unique_ptr<ShellFile> File) {
  SHELL_FILE_HANDLE Handle = File.get();
  Model.Files[Handle] = std::move(File);
  return Handle;
}

EFI_STATUS OpenNul(HostFirmware::Impl &Model, SHELL_FILE_HANDLE *FileHandle) {
  auto File = std::make_unique<ShellFile>();
  File->Nul = true;
  File->Writable = true;
  *FileHandle = Register(Model, std::move(File));
  return EFI_SUCCESS;
}

// Opens (and with EFI_FILE_MODE_CREATE creates) a file or directory by name.
// CreateAttributes apply only to an entry this call creates.
EFI_STATUS OpenPath(HostFirmware::Impl &Model, const CHAR16 *Name, UINT64 Mode,
                    UINT64 CreateAttributes, SHELL_FILE_HANDLE *FileHandle) {
  fs::path Path;
  bool IsRoot = false;
  EFI_STATUS Status = ResolveName(Model, Name, &Path, &IsRoot);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Model.Config.ReadOnlyVolume && (Mode & EFI_FILE_MODE_WRITE) != 0) {
    return EFI_WRITE_PROTECTED;
  }
  std::error_code Error;
  fs::file_status Entry = fs::status(Path, Error);
  bool Exists = fs::exists(Entry);
  auto File = std::make_unique<ShellFile>();
  File->Path = Path;
  File->Root = IsRoot;
  File->Writable = (Mode & EFI_FILE_MODE_WRITE) != 0;

  if (Exists) {
    if (fs::is_directory(Entry)) {
      File->Directory = true;
      *FileHandle = Register(Model, std::move(File));
      return EFI_SUCCESS;
    }
    if (!fs::is_regular_file(Entry)) {
      return EFI_ACCESS_DENIED;  // devices, sockets: nothing FAT could hold
    }
    if (File->Writable && PathIsReadOnly(Model, Path)) {
      return EFI_ACCESS_DENIED;
    }
    File->Fd = ::open(Path.c_str(), File->Writable ? O_RDWR : O_RDONLY);
    if (File->Fd < 0) {
      return errno == EACCES ? EFI_ACCESS_DENIED : EFI_DEVICE_ERROR;
    }
    *FileHandle = Register(Model, std::move(File));
    return EFI_SUCCESS;
  }

  if ((Mode & EFI_FILE_MODE_CREATE) == 0) {
    return EFI_NOT_FOUND;
  }
  if (!fs::is_directory(Path.parent_path(), Error)) {
    return EFI_NOT_FOUND;  // FAT creates one entry, never the directories above it
  }
  if ((CreateAttributes & EFI_FILE_DIRECTORY) != 0) {
    if (!fs::create_directory(Path, Error)) {
      return EFI_DEVICE_ERROR;
    }
    File->Directory = true;
    // A new directory has its "." and ".." entries written, so FAT marks it ARCHIVE.
    Model.FileAttributes[Path] = (CreateAttributes & ~EFI_FILE_DIRECTORY) | EFI_FILE_ARCHIVE;
    *FileHandle = Register(Model, std::move(File));
    return EFI_SUCCESS;
  }
  File->Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_EXCL, NewFileMode);
  if (File->Fd < 0) {
    return EFI_DEVICE_ERROR;
  }
  Model.FileAttributes[Path] = CreateAttributes;
  *FileHandle = Register(Model, std::move(File));
  return EFI_SUCCESS;
}

// ---- Shell services ----------------------------------------------------------------------
EFI_STATUS EFIAPI ShellOpenFileByName(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle,
                                      UINT64 OpenMode) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "OpenFileByName");
  CheckShellTpl(Model, "OpenFileByName");
  ShellFileOp Op = (OpenMode & EFI_FILE_MODE_CREATE) != 0 ? ShellFileOp::Create : ShellFileOp::Open;
  if (std::optional<EFI_STATUS> Fault = TakeFault(Model, Op)) {
    if (FileHandle != nullptr) {
      *FileHandle = nullptr;
    }
    return *Fault;
  }
  if (FileHandle == nullptr || FileName == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *FileHandle = nullptr;
  if (std::u16string_view(FileName) == u"NUL") {
    return OpenNul(Model, FileHandle);
  }
  if (OpenMode != ModeRead && OpenMode != ModeReadWrite && OpenMode != ModeCreate) {
    return EFI_INVALID_PARAMETER;
  }
  return OpenPath(Model, FileName, OpenMode, 0, FileHandle);
}

EFI_STATUS EFIAPI ShellCreateFile(const CHAR16 *FileName, UINT64 FileAttribs,
                                  SHELL_FILE_HANDLE *FileHandle) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "CreateFile");
  CheckShellTpl(Model, "CreateFile");
  if (std::optional<EFI_STATUS> Fault = TakeFault(Model, ShellFileOp::Create)) {
    if (FileHandle != nullptr) {
      *FileHandle = nullptr;
    }
    return *Fault;
  }
  if (FileHandle == nullptr || FileName == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *FileHandle = nullptr;
  if ((FileAttribs & ~EFI_FILE_VALID_ATTR) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (std::u16string_view(FileName) == u"NUL") {
    return OpenNul(Model, FileHandle);
  }
  return OpenPath(Model, FileName, ModeCreate, FileAttribs, FileHandle);
}

EFI_STATUS EFIAPI ShellCloseFile(SHELL_FILE_HANDLE FileHandle) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "CloseFile");
  ShellFile *File = FindFile(Model, FileHandle, "CloseFile");
  if (File == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Fd >= 0) {
    ::close(File->Fd);
    // READ_ONLY set during the run reaches the host file when it is closed, so
    // the handle that set it could still write.
    auto Found = Model.FileAttributes.find(File->Path);
    if (Found != Model.FileAttributes.end() && (Found->second & EFI_FILE_READ_ONLY) != 0) {
      std::error_code Error;
      fs::permissions(File->Path,
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove, Error);
    }
  }
  Model.Files.erase(FileHandle);
  return EFI_SUCCESS;
}

void FillTime(EFI_TIME *Time, time_t Seconds, bool DateOnly) {
  struct tm Parts {};
  gmtime_r(&Seconds, &Parts);
  *Time = EFI_TIME{};
  Time->Year = static_cast<UINT16>(Parts.tm_year + 1900);
  Time->Month = static_cast<UINT8>(Parts.tm_mon + 1);
  Time->Day = static_cast<UINT8>(Parts.tm_mday);
  if (!DateOnly) {
    Time->Hour = static_cast<UINT8>(Parts.tm_hour);
    Time->Minute = static_cast<UINT8>(Parts.tm_min);
    Time->Second = static_cast<UINT8>(Parts.tm_sec);
  }
  Time->TimeZone = UnspecifiedTimeZone;
  Time->Daylight = 0;
}

// The names a directory read yields, in order: "." and ".." (not in the root),
// then the entries, sorted so that runs repeat.
std::vector<std::u16string> DirectoryNames(const ShellFile &File) {
  std::vector<std::u16string> Names;
  if (!File.Root) {
    Names = {u".", u".."};
  }
  std::vector<std::u16string> Entries;
  std::error_code Error;
  for (fs::directory_iterator Entry(File.Path, Error), End; !Error && Entry != End;
       Entry.increment(Error)) {
    Entries.push_back(HostUtf8ToUcs2(Entry->path().filename().string()));
  }
  std::sort(Entries.begin(), Entries.end());
  Names.insert(Names.end(), Entries.begin(), Entries.end());
  return Names;
}

// FAT gives a directory the size of the clusters its entries occupy: 32 bytes for
// each short entry and each 13 characters of a long name, "." and ".." included.
uint64_t DirectorySize(const ShellFile &File) {
  uint64_t Bytes = 0;
  for (const std::u16string &Name : DirectoryNames(File)) {
    const bool Dots = Name == u"." || Name == u"..";
    Bytes += 32 * (1 + (Dots ? 0 : (Name.size() + 12) / 13));
  }
  return std::max<uint64_t>(1, (Bytes + ClusterBytes - 1) / ClusterBytes) * ClusterBytes;
}

uint64_t SizeOnVolume(const ShellFile &File, const struct stat &Status) {
  return File.Directory ? DirectorySize(File) : static_cast<uint64_t>(Status.st_size);
}

// The file information record of File under Name, into Info (Size bytes).
void FillFileInfo(HostFirmware::Impl &Model, const ShellFile &File, const struct stat &Status,
                  const std::u16string &Name, EFI_FILE_INFO *Info, size_t Size) {
  std::memset(Info, 0, Size);
  Info->Size = Size;
  Info->FileSize = SizeOnVolume(File, Status);
  Info->PhysicalSize = (Info->FileSize + ClusterBytes - 1) / ClusterBytes * ClusterBytes;
  FillTime(&Info->CreateTime, Status.st_mtime, false);
  FillTime(&Info->LastAccessTime, Status.st_atime, true);  // FAT keeps only the date
  FillTime(&Info->ModificationTime, Status.st_mtime, false);
  Info->Attribute = AttributeOf(Model, File);
  std::memcpy(reinterpret_cast<uint8_t *>(Info) + EFI_FILE_INFO_FIXED_SIZE, Name.c_str(),
              sizeof(CHAR16) * (Name.size() + 1));
}

size_t FileInfoSize(const std::u16string &Name) {
  return EFI_FILE_INFO_FIXED_SIZE + sizeof(CHAR16) * (Name.size() + 1);
}

// A read of a directory yields its next entry as one file information record
// (as the real shell on FAT does), an empty read after the last one, and
// EFI_BUFFER_TOO_SMALL with the size needed when the record does not fit.
EFI_STATUS ReadDirectoryEntry(HostFirmware::Impl &Model, ShellFile *File, UINTN *ReadSize,
                              VOID *Buffer) {
  const std::vector<std::u16string> Names = DirectoryNames(*File);
  if (File->Position >= Names.size()) {
    *ReadSize = 0;
    return EFI_SUCCESS;
  }
  const std::u16string &Name = Names[File->Position];
  const size_t Size = FileInfoSize(Name);
  if (*ReadSize < Size) {
    *ReadSize = Size;
    return EFI_BUFFER_TOO_SMALL;
  }
  ShellFile Entry;
  Entry.Path = Name == u"."    ? File->Path
               : Name == u".." ? File->Path.parent_path()
                               : File->Path / HostUcs2ToUtf8(Name);
  struct stat Status {};
  if (::stat(Entry.Path.c_str(), &Status) != 0) {
    *ReadSize = 0;
    return EFI_DEVICE_ERROR;
  }
  Entry.Directory = S_ISDIR(Status.st_mode);
  Entry.Root = Entry.Path == Model.Config.Root;
  FillFileInfo(Model, Entry, Status, Name, static_cast<EFI_FILE_INFO *>(Buffer), Size);
  File->Position++;
  *ReadSize = Size;
  return EFI_SUCCESS;
}

EFI_FILE_INFO *EFIAPI ShellGetFileInfo(SHELL_FILE_HANDLE FileHandle) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "GetFileInfo");
  ShellFile *File = FindFile(Model, FileHandle, "GetFileInfo");
  if (File == nullptr || File->Nul) {
    return nullptr;  // the real shell has no information for "NUL"
  }
  struct stat Status {};
  if (::stat(File->Path.c_str(), &Status) != 0) {
    return nullptr;
  }
  std::u16string Name = File->Root ? u"" : HostUtf8ToUcs2(File->Path.filename().string());
  size_t Size = FileInfoSize(Name);
  auto *Info = static_cast<EFI_FILE_INFO *>(ModelPoolTake(Model, Size));
  if (Info == nullptr) {
    return nullptr;
  }
  FillFileInfo(Model, *File, Status, Name, Info, Size);
  return Info;
}

EFI_STATUS EFIAPI ShellSetFileInfo(SHELL_FILE_HANDLE FileHandle, const EFI_FILE_INFO *FileInfo) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "SetFileInfo");
  CheckShellTpl(Model, "SetFileInfo");
  ShellFile *File = FindFile(Model, FileHandle, "SetFileInfo");
  if (File == nullptr || FileInfo == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Nul) {
    return EFI_UNSUPPORTED;
  }
  if (FileInfo->Size < EFI_FILE_INFO_FIXED_SIZE + sizeof(CHAR16)) {
    return EFI_BAD_BUFFER_SIZE;
  }
  if (Model.Config.ReadOnlyVolume) {
    return EFI_WRITE_PROTECTED;
  }
  if (!File->Writable) {
    return EFI_ACCESS_DENIED;
  }
  if ((FileInfo->Attribute & ~EFI_FILE_VALID_ATTR) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (((FileInfo->Attribute & EFI_FILE_DIRECTORY) != 0) != File->Directory) {
    return EFI_ACCESS_DENIED;  // a file can't become a directory, nor the reverse
  }
  // Renames are not part of the model: the record must name the file itself.
  const auto *NameBytes = reinterpret_cast<const uint8_t *>(FileInfo) + EFI_FILE_INFO_FIXED_SIZE;
  size_t NameChars = (FileInfo->Size - EFI_FILE_INFO_FIXED_SIZE) / sizeof(CHAR16);
  std::u16string Name;
  for (size_t I = 0; I < NameChars; ++I) {
    CHAR16 Character;
    std::memcpy(&Character, NameBytes + I * sizeof(CHAR16), sizeof(Character));
    if (Character == 0) {
      break;
    }
    Name.push_back(Character);
  }
  std::string Current = File->Root ? "" : File->Path.filename().string();
  if (!SameNameIgnoringCase(HostUcs2ToUtf8(Name), Current)) {
    RecordUnexpected(Model, "SetFileInfo renaming a file");
    return EFI_ACCESS_DENIED;
  }
  if (!File->Directory && FileInfo->FileSize != FileSizeOf(*File)) {
    uint64_t Size = FileSizeOf(*File);
    if (FileInfo->FileSize > Size && !Fits(Model, FileInfo->FileSize - Size)) {
      return EFI_VOLUME_FULL;
    }
    if (::ftruncate(File->Fd, static_cast<off_t>(FileInfo->FileSize)) != 0) {
      return EFI_DEVICE_ERROR;
    }
  }
  Model.FileAttributes[File->Path] = FileInfo->Attribute & ~EFI_FILE_DIRECTORY;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ShellReadFile(SHELL_FILE_HANDLE FileHandle, UINTN *ReadSize, VOID *Buffer) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "ReadFile");
  CheckShellTpl(Model, "ReadFile");
  if (std::optional<EFI_STATUS> Fault = TakeFault(Model, ShellFileOp::Read)) {
    return *Fault;
  }
  ShellFile *File = FindFile(Model, FileHandle, "ReadFile");
  if (File == nullptr || ReadSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Nul) {
    *ReadSize = 0;
    return EFI_SUCCESS;
  }
  if (File->Directory) {
    return ReadDirectoryEntry(Model, File, ReadSize, Buffer);
  }
  if (Buffer == nullptr && *ReadSize != 0) {
    return EFI_INVALID_PARAMETER;
  }
  uint8_t *Bytes = static_cast<uint8_t *>(Buffer);
  UINTN Done = 0;
  while (Done < *ReadSize) {
    ssize_t Count = ::pread(File->Fd, Bytes + Done, *ReadSize - Done,
                            static_cast<off_t>(File->Position + Done));
    if (Count < 0) {
      *ReadSize = Done;
      return EFI_DEVICE_ERROR;
    }
    if (Count == 0) {
      break;  // end of file: a short count, success
    }
    Done += static_cast<UINTN>(Count);
  }
  File->Position += Done;
  *ReadSize = Done;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ShellWriteFile(SHELL_FILE_HANDLE FileHandle, UINTN *BufferSize, VOID *Buffer) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "WriteFile");
  CheckShellTpl(Model, "WriteFile");
  if (std::optional<EFI_STATUS> Fault = TakeFault(Model, ShellFileOp::Write)) {
    return *Fault;
  }
  ShellFile *File = FindFile(Model, FileHandle, "WriteFile");
  if (File == nullptr || BufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Nul) {
    return EFI_SUCCESS;  // the sink takes everything
  }
  if (File->Directory) {
    return EFI_UNSUPPORTED;
  }
  if (Model.Config.ReadOnlyVolume) {
    return EFI_WRITE_PROTECTED;
  }
  if (!File->Writable) {
    return EFI_ACCESS_DENIED;
  }
  if (Buffer == nullptr && *BufferSize != 0) {
    return EFI_INVALID_PARAMETER;
  }
  uint64_t Size = FileSizeOf(*File);
  uint64_t End = File->Position + *BufferSize;
  if (End > Size && !Fits(Model, End - Size)) {
    // As a FAT driver that can't get the clusters: nothing of this write lands.
    *BufferSize = 0;
    return EFI_VOLUME_FULL;
  }
  const uint8_t *Bytes = static_cast<const uint8_t *>(Buffer);
  UINTN Done = 0;
  while (Done < *BufferSize) {
    ssize_t Count = ::pwrite(File->Fd, Bytes + Done, *BufferSize - Done,
                             static_cast<off_t>(File->Position + Done));
    if (Count <= 0) {
      File->Position += Done;
      *BufferSize = Done;
      return EFI_DEVICE_ERROR;
    }
    Done += static_cast<UINTN>(Count);
  }
  File->Position += Done;
  if (Done != 0) {
    // The FAT driver marks a written file for backup.
    Model.FileAttributes[File->Path] = AttributeOf(Model, *File) | EFI_FILE_ARCHIVE;
  }
  return EFI_SUCCESS;
}

// Closes the handle whatever happens, as the shell does, and deletes the file or
// empty directory behind it; what cannot be deleted (the "NUL" sink, the root, a
// directory with entries, a handle opened for reading, anything on a read-only
// volume) stays and answers EFI_WARN_DELETE_FAILURE.
EFI_STATUS EFIAPI ShellDeleteFile(SHELL_FILE_HANDLE FileHandle) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "DeleteFile");
  CheckShellTpl(Model, "DeleteFile");
  ShellFile *File = FindFile(Model, FileHandle, "DeleteFile");
  if (File == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Fd >= 0) {
    ::close(File->Fd);
    File->Fd = -1;
  }
  std::error_code Error;
  bool Deletable = !File->Nul && !File->Root && File->Writable && !Model.Config.ReadOnlyVolume &&
                   (!File->Directory || fs::is_empty(File->Path, Error));
  bool Deleted = Deletable && !Error && fs::remove(File->Path, Error) && !Error;
  if (Deleted) {
    Model.FileAttributes.erase(File->Path);
  }
  Model.Files.erase(FileHandle);
  return Deleted ? EFI_SUCCESS : EFI_WARN_DELETE_FAILURE;
}

EFI_STATUS EFIAPI ShellGetFileSize(SHELL_FILE_HANDLE FileHandle, UINT64 *Size) {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "GetFileSize");
  CheckShellTpl(Model, "GetFileSize");
  if (std::optional<EFI_STATUS> Fault = TakeFault(Model, ShellFileOp::Size)) {
    return *Fault;
  }
  ShellFile *File = FindFile(Model, FileHandle, "GetFileSize");
  if (File == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (File->Directory) {
    *Size = DirectorySize(*File);
    return EFI_SUCCESS;
  }
  *Size = File->Nul ? 0 : FileSizeOf(*File);
  return EFI_SUCCESS;
}

VOID EFIAPI ShellEnablePageBreak() {
  HostFirmware::Impl &Model = ActiveModel();
  CountCall(Model, "EnablePageBreak");
  Model.PageBreak = true;
}

}  // namespace

void CloseAllShellFiles(HostFirmware::Impl &Model) {
  for (auto &Entry : Model.Files) {
    if (Entry.second->Fd >= 0) {
      ::close(Entry.second->Fd);
    }
  }
  Model.Files.clear();
}

void InstallShellProtocol(HostFirmware::Impl &Model) {
  EFI_SHELL_PROTOCOL &Shell = Model.Shell;
  Shell.Execute = UnexpectedService<"Shell.Execute">;
  Shell.GetEnv = UnexpectedService<"Shell.GetEnv">;
  Shell.SetEnv = UnexpectedService<"Shell.SetEnv">;
  Shell.GetAlias = UnexpectedService<"Shell.GetAlias">;
  Shell.SetAlias = UnexpectedService<"Shell.SetAlias">;
  Shell.GetHelpText = UnexpectedService<"Shell.GetHelpText">;
  Shell.GetDevicePathFromMap = UnexpectedService<"Shell.GetDevicePathFromMap">;
  Shell.GetMapFromDevicePath = UnexpectedService<"Shell.GetMapFromDevicePath">;
  Shell.GetDevicePathFromFilePath = UnexpectedService<"Shell.GetDevicePathFromFilePath">;
  Shell.GetFilePathFromDevicePath = UnexpectedService<"Shell.GetFilePathFromDevicePath">;
  Shell.SetMap = UnexpectedService<"Shell.SetMap">;
  Shell.GetCurDir = UnexpectedService<"Shell.GetCurDir">;
  Shell.SetCurDir = UnexpectedService<"Shell.SetCurDir">;
  Shell.OpenFileList = UnexpectedService<"Shell.OpenFileList">;
  Shell.FreeFileList = UnexpectedService<"Shell.FreeFileList">;
  Shell.RemoveDupInFileList = UnexpectedService<"Shell.RemoveDupInFileList">;
  Shell.BatchIsActive = UnexpectedService<"Shell.BatchIsActive">;
  Shell.IsRootShell = UnexpectedService<"Shell.IsRootShell">;
  Shell.EnablePageBreak = ShellEnablePageBreak;
  Shell.DisablePageBreak = UnexpectedService<"Shell.DisablePageBreak">;
  Shell.GetPageBreak = UnexpectedService<"Shell.GetPageBreak">;
  Shell.GetDeviceName = UnexpectedService<"Shell.GetDeviceName">;
  Shell.GetFileInfo = ShellGetFileInfo;
  Shell.SetFileInfo = ShellSetFileInfo;
  Shell.OpenFileByName = ShellOpenFileByName;
  Shell.CloseFile = ShellCloseFile;
  Shell.CreateFile = ShellCreateFile;
  Shell.ReadFile = ShellReadFile;
  Shell.WriteFile = ShellWriteFile;
  Shell.DeleteFile = ShellDeleteFile;
  Shell.DeleteFileByName = UnexpectedService<"Shell.DeleteFileByName">;
  Shell.GetFilePosition = UnexpectedService<"Shell.GetFilePosition">;
  Shell.SetFilePosition = UnexpectedService<"Shell.SetFilePosition">;
  Shell.FlushFile = UnexpectedService<"Shell.FlushFile">;
  Shell.FindFiles = UnexpectedService<"Shell.FindFiles">;
  Shell.FindFilesInDir = UnexpectedService<"Shell.FindFilesInDir">;
  Shell.GetFileSize = ShellGetFileSize;
  Shell.OpenRoot = UnexpectedService<"Shell.OpenRoot">;
  Shell.OpenRootByHandle = UnexpectedService<"Shell.OpenRootByHandle">;
  Shell.ExecutionBreak = nullptr;
  Shell.RegisterGuidName = UnexpectedService<"Shell.RegisterGuidName">;
  Shell.GetGuidName = UnexpectedService<"Shell.GetGuidName">;
  Shell.GetGuidFromName = UnexpectedService<"Shell.GetGuidFromName">;
  Shell.GetEnvEx = UnexpectedService<"Shell.GetEnvEx">;
}
