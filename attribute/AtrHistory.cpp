#include "attribute/AtrHistory.h"

AtrHistoryManager::~AtrHistoryManager() = default;

int32_t AtrHistoryManager::NewHistoryId() { return -1; }
void AtrHistoryManager::NodeAdded(AtrNode*, const char*) {}
void AtrHistoryManager::NodeCut(AtrNode*, const char*) {}
void AtrHistoryManager::NodeDeleted(AtrNode*, const char*) {}
void AtrHistoryManager::FlagChanged(AtrNode*, uint32_t, const char*) {}
void AtrHistoryManager::AttributeAdded(AtrNode*, AtrAttribute*, const char*) {}
void AtrHistoryManager::AttributeChanged(AtrNode*, AtrAttribute*, const AtrData&, const char*) {}
void AtrHistoryManager::AttributeDeleted(AtrNode*, AtrAttribute*, const char*) {}
void AtrHistoryManager::DataAdded(AtrNode*, AtrData*, const char*) {}
void AtrHistoryManager::DataChanged(AtrNode*, AtrData*, const AtrData&, const char*) {}
void AtrHistoryManager::DataDeleted(AtrNode*, AtrData*, const char*) {}
