# Sources of the non-GUI core (platform layer and archive scanner), relative to the repository
# root; shared by the main build and the standalone fuzz build.
set(OLM_CORE_SOURCES
  src/platform/ArchiveSource.cpp
  src/platform/FinderInfo.cpp
  src/platform/Crc32.cpp
  src/scanner/BufferedArchiveReader.cpp
  src/scanner/ScanGlobals.cpp
  src/scanner/ElementValue.cpp
  src/scanner/FolderMaps.cpp
  src/scanner/DateTimeConvert.cpp
  src/scanner/QFolderInformationThread.cpp
  src/scanner/CentralDirectory.cpp
  src/scanner/ArchiveWalk.cpp
  src/scanner/BlockRecovery.cpp
  src/scanner/ContactBuilder.cpp
  src/scanner/CalendarBuilder.cpp
  src/scanner/TaskBuilder.cpp
  src/scanner/NoteBuilder.cpp
  src/scanner/MailBuilder.cpp
  src/shell/ShellGlobals.cpp
)
