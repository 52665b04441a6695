#include "save/SaveGlobals.h"

QString strTime;
QString saveDir;
unsigned int SizeOfAllMails = 0;
unsigned int ulCount = 0;

bool appmaildata = false;
bool cont = false;
bool cal = false;
bool task = false;
bool note = false;
bool mail = false;
QString strContainerPath;
