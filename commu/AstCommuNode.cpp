#include "commu/AstCommuNode.h"

#include "attribute/AtrNode.h"

void AstSetNodeAttribute(AtrNode* node, const char* name, const AtrData& value)
{
    if (node == nullptr) {
        return;
    }
    if (!node->SetAttribute(name, value)) {
        node->AddAttribute(CvString(name), value);
    }
}

AstCommuNode::AstCommuNode(AtrNode* node) : m_node(node), m_default(CvString()) {}

AstCommuNode::~AstCommuNode() = default;

uint32_t AstCommuNode::GetPortNo() const
{
    if (m_node == nullptr) {
        return 0;
    }
    const AtrData* data = m_node->GetAttributeData(AST_COMMU_PORT_NO);
    return data != nullptr ? data->GetU32() : 0;
}

CvString AstCommuNode::_text(const char* name) const
{
    if (m_node == nullptr) {
        return m_default.GetCvString();
    }
    const AtrData* data = m_node->GetAttributeData(name);
    return data != nullptr ? data->GetCvString() : m_default.GetCvString();
}

void AstCommuNode::_set(const char* name, const AtrData& value)
{
    AstSetNodeAttribute(m_node, name, value);
}
