# Sources of the platform layer and the archive scanner, relative to the repository root; shared
# by the main build and the standalone fuzz build. The main build adds every source under
# src/save to the same core library (OLM_SAVE_SOURCE_GLOBS).
set(OLM_CORE_SOURCES
  src/platform/ArchiveSource.cpp
  src/platform/FinderInfo.cpp
  src/platform/ReminderSink.cpp
  src/platform/Crc32.cpp
  src/platform/DesktopOpener.cpp
  src/platform/FreeSpace.cpp
  src/platform/FreedMemory.cpp
  src/platform/PlistSettings.cpp
  src/platform/PreviewerLauncher.cpp
  src/platform/WatchedProcess.cpp
  src/platform/WholeFile.cpp
  src/platform/WorkerGlobals.cpp
  src/scanner/BufferedArchiveReader.cpp
  src/scanner/ScanGlobals.cpp
  src/scanner/ElementValue.cpp
  src/scanner/ElementText.cpp
  src/scanner/ItemWalk.cpp
  src/scanner/WellFormed.cpp
  src/scanner/XmlEntities.cpp
  src/scanner/FolderMaps.cpp
  src/scanner/FolderKinds.cpp
  src/scanner/FolderAttributes.cpp
  src/scanner/DateTimeConvert.cpp
  src/scanner/DateConverter.cpp
  src/scanner/QFolderInformationThread.cpp
  src/scanner/CentralDirectory.cpp
  src/scanner/ArchiveWalk.cpp
  src/scanner/EntryNames.cpp
  src/scanner/EntryExtent.cpp
  src/scanner/UnusedRecords.cpp
  src/scanner/BuildQueue.cpp
  src/scanner/BlockRecovery.cpp
  src/scanner/ContactBuilder.cpp
  src/scanner/CalendarBuilder.cpp
  src/scanner/TaskBuilder.cpp
  src/scanner/NoteBuilder.cpp
  src/scanner/MailBuilder.cpp
  src/scanner/StoreCopies.cpp
)
set(OLM_SAVE_SOURCE_GLOBS src/save/*.cpp src/save/*.h)
