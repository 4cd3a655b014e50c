#include "core/voMain.h"

TvoMain* voMain = nullptr;

void TvoMain::Run() {}
