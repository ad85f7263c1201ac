#pragma once
// AstMorrinDde: the Morrin tool reached over the local transport. Its
// service (the executable's base name unless another is given) takes the
// poked command texts, one per frame in arrival order; answers go to the
// runtime's service ("VeldraDdeName" of the command's settings).
//
// The tool starts the local transport if nobody has; a service name that
// is already served sets the Error flag.

#include "commu/AstDdeClient.h"
#include "commu/AstDdeServer.h"
#include "commu/AstMorrinBase.h"
#include "kit/CvString.h"
#include "platform/PlatformExport.h"

#include <deque>

// The tool's service: every poked text waits in arrival order, so pokes
// that arrive within one frame are all delivered.
class LUMIVOR_EXPORT AstMorrinDdeServer : public AstDdeServer {
public:
    int OnPoke(const char* item, AstDdeConnection* connection) override;
    // The oldest waiting text, or null.
    const char* GetText() const { return m_texts.empty() ? nullptr : m_texts.front().GetBuffer(); }
    void PopText();

private:
    std::deque<CvString> m_texts;
};

class LUMIVOR_EXPORT AstMorrinDde : public AstMorrinBase {
public:
    explicit AstMorrinDde(const char* serviceName = nullptr);
    ~AstMorrinDde() override;

    const char* GetReceivedData() override;
    void DestroyReceivedData() override;
    // Pokes the command to its "VeldraDdeName" service.
    int32_t SendToVeldra(AstCommandNode* command) override;

    AstMorrinDdeServer* GetDdeServer() { return &m_server; }

private:
    AstMorrinDdeServer m_server;
    AstDdeClient m_veldraClient;
    bool m_ownsDde = false;
};
