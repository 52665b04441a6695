#include "save/SaveGlobals.h"

bool appmaildata = false;
bool cont = false;
bool cal = false;
bool task = false;
bool note = false;
bool mail = false;
QString strContainerPath;
