#include "attribute/AtrData.h"

AtrData::~AtrData() = default;
