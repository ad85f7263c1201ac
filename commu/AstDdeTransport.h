#pragma once
// Inside the local transport: the process's server table as AstDdeServer
// uses it. Not exported.

class AstDdeServer;

// Enters a created server (its listening socket watched by the loop) in
// the first free slot; 0 when the name is already there or the table is full.
int AstDdeTableEnter(AstDdeServer* server);
void AstDdeTableLeave(AstDdeServer* server);
// The server registered under exactly this name, or null.
AstDdeServer* AstDdeTableFind(const char* name);
