#pragma once
// State of the save run. Defined in SaveGlobals.cpp.

#include <QString>

// The save in progress: its stamp "(d MMM yyyy,hh-mm-ss)", destination, item total and running
// count. Written by the GUI thread before the saving thread starts; read by it and the writers.
extern QString strTime;
extern QString saveDir;
extern unsigned int SizeOfAllMails;
extern unsigned int ulCount;

// The rest is the saving thread's own: written and read on that thread only, while a save runs.

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
