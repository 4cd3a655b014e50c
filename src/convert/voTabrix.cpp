#include "convert/voTabrix.h"

void voTabrixStartup(TvoProject&) {}
