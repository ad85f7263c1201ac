#pragma once
// AstCommuNode: reads and writes the connection settings of a command (the
// node under "COMMU"): the DDE service names of the peers and the host and
// port of the Morrin tool for socket links. It works on a node it does not
// own; with a null node the getters answer the empty default and the setters
// do nothing.

#include "attribute/AtrData.h"
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;

inline constexpr char AST_COMMU_TESSOLIN_DDE_NAME[] = "TessolinDdeName";
inline constexpr char AST_COMMU_MORRIN_DDE_NAME[] = "MorrinDdeName";
inline constexpr char AST_COMMU_VELDRA_DDE_NAME[] = "VeldraDdeName";
inline constexpr char AST_COMMU_MACHINE_NAME[] = "MachineName";
inline constexpr char AST_COMMU_PORT_NO[] = "PortNo";
// The Tessolin service name a new command carries.
inline constexpr char AST_COMMU_DEFAULT_TESSOLIN_DDE_NAME[] = "Tessolin";

class LUMIVOR_EXPORT AstCommuNode : public CvkBase {
public:
    explicit AstCommuNode(AtrNode* node = nullptr);
    ~AstCommuNode() override;

    AtrNode* GetNode() const { return m_node; }
    void SetNode(AtrNode* node) { m_node = node; }

    CvString GetTessolinDdeName() const { return _text(AST_COMMU_TESSOLIN_DDE_NAME); }
    CvString GetMorrinDdeName() const { return _text(AST_COMMU_MORRIN_DDE_NAME); }
    CvString GetVeldraDdeName() const { return _text(AST_COMMU_VELDRA_DDE_NAME); }
    CvString GetMachineName() const { return _text(AST_COMMU_MACHINE_NAME); }
    // 0 when missing.
    uint32_t GetPortNo() const;

    void SetTessolinDdeName(const char* name) { _set(AST_COMMU_TESSOLIN_DDE_NAME, AtrData(name)); }
    void SetMorrinDdeName(const char* name) { _set(AST_COMMU_MORRIN_DDE_NAME, AtrData(name)); }
    void SetVeldraDdeName(const char* name) { _set(AST_COMMU_VELDRA_DDE_NAME, AtrData(name)); }
    void SetMachineName(const char* name) { _set(AST_COMMU_MACHINE_NAME, AtrData(name)); }
    void SetPortNo(uint32_t port) { _set(AST_COMMU_PORT_NO, AtrData(port)); }

private:
    CvString _text(const char* name) const;
    void _set(const char* name, const AtrData& value);

    AtrNode* m_node;
    AtrData m_default;
};

// Adds the attribute name with value to node, or replaces the value of the
// first one of that name (shared by the command classes).
LUMIVOR_EXPORT void AstSetNodeAttribute(AtrNode* node, const char* name, const AtrData& value);
