#pragma once
// State the saving thread owns. All of it is written and read on the saving thread only, while a
// save runs; nothing else touches it.

#include <QString>

// Target of the contact, calendar, task and note writers: false the .rge package, true the Apple
// Mail output. Set by run() for every checked folder of save types 1 and 2, before its writer.
extern bool appmaildata;
// What the current OLM save takes besides the listed mail folders: at least one checked folder of
// contacts, calendar, tasks, notes, or mail. Cleared when run() starts; set during its walk.
extern bool cont;
extern bool cal;
extern bool task;
extern bool note;
extern bool mail;
// A container folder that the end of a save would move into the destination. Always empty: no
// part of the program names one, so the end step copies and removes nothing.
extern QString strContainerPath;
