#pragma once
// AstCommandNode: one command message between the authoring applications and
// the tools - an attribute tree that carries the addressee, the command line
// of a Morrin program to start, the peers' connection settings and a block of
// kit messages:
//
//   VELDRA  To = <addressee>, MorrinFileName = "<command line>"
//     COMMU
//       root  TessolinDdeName = ..., MorrinDdeName = ..., VeldraDdeName = ...,
//             MachineName = ..., PortNo = ...          (see AstCommuNode)
//     MSG
//       MSGBUF ...                                     (see CvkMessageBufferNode)
//
// On the wire a command is the attribute text of its tree (GetText), which
// is cached until the tree changes. The object owns its tree.

#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "attribute/AtrData.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;

// Element and attribute names of the command tree.
inline constexpr char AST_COMMAND_NODE_ROOT[] = "VELDRA";
inline constexpr char AST_COMMAND_NODE_TO[] = "To";
inline constexpr char AST_COMMAND_NODE_MORRIN_FILE_NAME[] = "MorrinFileName";
inline constexpr char AST_COMMAND_NODE_COMMU[] = "COMMU";
inline constexpr char AST_COMMAND_NODE_MSG[] = "MSG";
// Name of the settings node that Create puts under "COMMU".
inline constexpr char AST_COMMAND_NODE_SETTINGS[] = "root";

// Addressees ("To").
constexpr int32_t AST_COMMAND_TO_MORRIN = 0;
constexpr int32_t AST_COMMAND_TO_TESSOLIN = 1;

class LUMIVOR_EXPORT AstCommandNode : public CvkBase {
public:
    AstCommandNode();
    ~AstCommandNode() override;
    AstCommandNode(const AstCommandNode&) = delete;
    AstCommandNode& operator=(const AstCommandNode&) = delete;

    // Replaces the tree by the default command: "To" 0, settings with
    // "TessolinDdeName" = "Tessolin", an empty one-slot message buffer.
    // 0 (the object left empty) when memory runs out.
    int32_t Create();
    // Replaces the tree by the one read from an attribute text; 0 (the
    // object left empty) for a null text or a text that does not read.
    int32_t CreateFromAtrText(const char* text);
    // Drops the tree; the object is empty afterwards.
    void Destroy();

    // The attribute text of the whole tree; empty for an empty object.
    const CvString& GetText();

    // "To" as a signed number; 0 (the Morrin tool) when missing.
    int32_t GetTo() const;
    // Adds or replaces "To"; nothing on an empty object.
    void SetTo(int32_t to);
    // "MorrinFileName"; empty when missing.
    CvString GetMorrinFileName() const;
    // Adds or replaces "MorrinFileName"; nothing on an empty object.
    void SetMorrinFileName(const char* name);

    // The settings node (first child of "COMMU"), or null.
    AtrNode* GetCommuNode() const;
    // Adopts node as the settings node, destroying the present one; creates
    // "VELDRA" and "COMMU" when missing. 0 when they cannot be created (node
    // is then destroyed, as it was handed over).
    int32_t SetCommuNode(AtrNode* node);
    // The message tree (first child of "MSG"), or null.
    AtrNode* GetMessageNode() const;
    // As SetCommuNode, for "MSG".
    int32_t SetMessageNode(AtrNode* node);
    // Destroys the message tree; "MSG" stays.
    void ClearMessageNode();

    // The root "VELDRA" (owned by this object), or null.
    AtrNode* GetRootNode() const { return m_root; }

private:
    AtrNode* _section(const char* name) const;
    int32_t _setSectionChild(const char* name, AtrNode* node);
    void _setAttribute(const char* name, const AtrData& value);

    AtrNode* m_root;
    CvString m_text;
    bool m_textValid;
    AtrData m_default;
};
