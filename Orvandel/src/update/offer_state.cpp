#include "offer_state.h"

std::string localVersion;
std::string serverVersion;
std::string idServerVersion;
