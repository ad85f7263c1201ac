#include "commu/AstCommandNode.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "commu/AstCommuNode.h"
#include "commu/CvkMessageBufferNode.h"
#include "kit/CvkMessageBuffer.h"

AstCommandNode::AstCommandNode() : m_root(nullptr), m_text(), m_textValid(false), m_default(CvString()) {}

AstCommandNode::~AstCommandNode()
{
    Destroy();
}

void AstCommandNode::Destroy()
{
    AtrNode::Destroy(m_root);
    m_root = nullptr;
    m_textValid = false;
}

int32_t AstCommandNode::Create()
{
    Destroy();
    AtrNode* root = AtrNode::Create(nullptr, AST_COMMAND_NODE_ROOT);
    if (root == nullptr) {
        return 0;
    }
    m_root = root;
    AtrNode* settings = AtrNode::Create(nullptr, AST_COMMAND_NODE_SETTINGS);
    CvkMessageBuffer empty(1);
    AtrNode* messages = CvkMessageBufferNode().WriteToNode(&empty);
    bool ok = root->AddAttribute(CvString(AST_COMMAND_NODE_TO), AST_COMMAND_TO_MORRIN) != nullptr;
    ok = settings != nullptr && ok;
    if (settings != nullptr) {
        AstCommuNode commu(settings);
        commu.SetTessolinDdeName(AST_COMMU_DEFAULT_TESSOLIN_DDE_NAME);
        ok = commu.GetTessolinDdeName() == AST_COMMU_DEFAULT_TESSOLIN_DDE_NAME && ok;
    }
    // Both calls take ownership of their node whatever happens.
    ok = SetCommuNode(settings) && ok;
    ok = SetMessageNode(messages) && messages != nullptr && ok;
    if (!ok) {
        Destroy();
        return 0;
    }
    return 1;
}

int32_t AstCommandNode::CreateFromAtrText(const char* text)
{
    Destroy();
    if (text == nullptr) {
        return 0;
    }
    AtrParser parser;
    AtrNode* first = parser.CreateTreeFromText(text);
    if (first == nullptr) {
        return 0;
    }
    // A command is one tree; anything after its root is not part of it.
    AtrNodeDestroyChain(first->GetNext());
    m_root = first;
    return 1;
}

const CvString& AstCommandNode::GetText()
{
    if (!m_textValid) {
        if (m_root != nullptr) {
            AtrParser writer;
            m_text = writer.WriteTree(m_root);
        } else {
            m_text.Erase();
        }
        m_textValid = true;
    }
    return m_text;
}

int32_t AstCommandNode::GetTo() const
{
    if (m_root == nullptr) {
        return 0;
    }
    const AtrData* data = m_root->GetAttributeData(AST_COMMAND_NODE_TO);
    return data != nullptr ? data->GetS32() : 0;
}

void AstCommandNode::SetTo(int32_t to)
{
    _setAttribute(AST_COMMAND_NODE_TO, AtrData(to));
}

CvString AstCommandNode::GetMorrinFileName() const
{
    const AtrData* data = m_root != nullptr ? m_root->GetAttributeData(AST_COMMAND_NODE_MORRIN_FILE_NAME) : nullptr;
    return data != nullptr ? data->GetCvString() : m_default.GetCvString();
}

void AstCommandNode::SetMorrinFileName(const char* name)
{
    _setAttribute(AST_COMMAND_NODE_MORRIN_FILE_NAME, AtrData(name));
}

AtrNode* AstCommandNode::GetCommuNode() const
{
    AtrNode* section = _section(AST_COMMAND_NODE_COMMU);
    return section != nullptr ? section->GetChild(0) : nullptr;
}

int32_t AstCommandNode::SetCommuNode(AtrNode* node)
{
    return _setSectionChild(AST_COMMAND_NODE_COMMU, node);
}

AtrNode* AstCommandNode::GetMessageNode() const
{
    AtrNode* section = _section(AST_COMMAND_NODE_MSG);
    return section != nullptr ? section->GetChild(0) : nullptr;
}

int32_t AstCommandNode::SetMessageNode(AtrNode* node)
{
    return _setSectionChild(AST_COMMAND_NODE_MSG, node);
}

void AstCommandNode::ClearMessageNode()
{
    AtrNode* section = _section(AST_COMMAND_NODE_MSG);
    if (section != nullptr) {
        AtrNodeDestroyChain(section->GetChild(0));
    }
    m_textValid = false;
}

AtrNode* AstCommandNode::_section(const char* name) const
{
    return m_root != nullptr ? m_root->GetChild(name) : nullptr;
}

int32_t AstCommandNode::_setSectionChild(const char* name, AtrNode* node)
{
    m_textValid = false;
    if (m_root == nullptr) {
        m_root = AtrNode::Create(nullptr, AST_COMMAND_NODE_ROOT);
    }
    AtrNode* section = _section(name);
    if (section == nullptr && m_root != nullptr) {
        section = AtrNode::Create(m_root, name);
    }
    if (section == nullptr) {
        AtrNode::Destroy(node);
        return 0;
    }
    AtrNodeDestroyChain(section->GetChild(0));
    if (node == nullptr) {
        return 1;
    }
    // A node handed over may still hang in another tree or lead a chain of
    // siblings; only the node itself is adopted.
    node->Cut();
    return section->AddChild(node);
}

void AstCommandNode::_setAttribute(const char* name, const AtrData& value)
{
    if (m_root == nullptr) {
        return;
    }
    AstSetNodeAttribute(m_root, name, value);
    m_textValid = false;
}
