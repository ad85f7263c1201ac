#include "commu/CvkMessageBufferNode.h"

#include "attribute/AtrNode.h"
#include "kit/CvkMessageBuffer.h"

namespace {

const CvVariant& Param(const CvkMessageBlock& block, int32_t i)
{
    switch (i) {
    case 0: return block.GetParam0();
    case 1: return block.GetParam1();
    case 2: return block.GetParam2();
    case 3: return block.GetParam3();
    default: return block.GetParam4();
    }
}

// The value a "VAR" carries: the variant itself, except a "FIXED", which the
// text writer would leave out, as its decimal text.
AtrData ValueOf(const CvVariant& v)
{
    if (v.GetType() == CVK_VARIANT_TYPE_FIXED) {
        return AtrData(v.GetCvString());
    }
    return AtrData(v);
}

uint32_t U32Attribute(const AtrNode* node, const char* name)
{
    const AtrData* data = node->GetAttributeData(name);
    return data != nullptr ? data->GetU32() : 0;
}

// Rebuilds one parameter from a "VAR": the kind from "Type", the value from
// the text of "Val". False for a kind the kit does not know.
bool ReadVariant(const AtrNode* var, CvVariant& out)
{
    const AtrData* type = var->GetAttributeData(CVK_MESSAGE_NODE_TYPE);
    const int32_t kind = type != nullptr ? type->GetS32() : CVK_VARIANT_TYPE_SINT;
    if (kind < 0 || kind >= CVK_VARIANT_TYPE_NUM) {
        return false;
    }
    const AtrData* val = var->GetAttributeData(CVK_MESSAGE_NODE_VAL);
    out.Set(val != nullptr ? val->GetCvString() : CvString(), static_cast<CVK_VARIANT_TYPE>(kind));
    return true;
}

} // namespace

AtrNode* CvkMessageBufferNode::WriteToNode(CvkMessageBuffer* buffer) const
{
    if (buffer == nullptr) {
        return nullptr;
    }
    AtrNode* root = AtrNode::Create(nullptr, CVK_MESSAGE_NODE_BUFFER);
    if (root == nullptr) {
        return nullptr;
    }
    const CvkMessageBlock* blocks = buffer->GetMessageBlock();
    for (int32_t i = 0; i < buffer->GetMessageBlockNum(); ++i) {
        if (blocks[i].GetUse() != 0 && _writeBlock(root, blocks[i]) == nullptr) {
            AtrNode::Destroy(root);
            return nullptr;
        }
    }
    return root;
}

AtrNode* CvkMessageBufferNode::_writeBlock(AtrNode* parent, const CvkMessageBlock& block) const
{
    AtrNode* node = AtrNode::Create(parent, CVK_MESSAGE_NODE_BLOCK);
    if (node == nullptr || node->AddAttributeU32(CvString(CVK_MESSAGE_NODE_TO), block.GetTo()) == nullptr ||
        node->AddAttributeU32(CvString(CVK_MESSAGE_NODE_MSG), block.GetMsg()) == nullptr ||
        node->AddAttributeU32(CvString(CVK_MESSAGE_NODE_FROM), block.GetFrom()) == nullptr) {
        return nullptr;
    }
    for (int32_t i = 0; i < CVK_MESSAGE_NODE_PARAMS; ++i) {
        const CvVariant& param = Param(block, i);
        AtrNode* var = AtrNode::Create(node, CVK_MESSAGE_NODE_VAR);
        if (var == nullptr ||
            var->AddAttribute(CvString(CVK_MESSAGE_NODE_TYPE), static_cast<int32_t>(param.GetType())) == nullptr ||
            var->AddAttribute(CvString(CVK_MESSAGE_NODE_VAL), ValueOf(param)) == nullptr) {
            return nullptr;
        }
    }
    return node;
}

int32_t CvkMessageBufferNode::ReadFromNode(CvkMessageBuffer* buffer, const AtrNode* node) const
{
    if (buffer == nullptr || node == nullptr || node->GetElement() != CVK_MESSAGE_NODE_BUFFER) {
        return 0;
    }
    for (const AtrNode* block = node->GetChild(CVK_MESSAGE_NODE_BLOCK); block != nullptr;
         block = block->GetNext(CVK_MESSAGE_NODE_BLOCK)) {
        if (!_readBlock(buffer, block)) {
            return 0;
        }
    }
    return 1;
}

int32_t CvkMessageBufferNode::_readBlock(CvkMessageBuffer* buffer, const AtrNode* node) const
{
    if (node->GetElement() != CVK_MESSAGE_NODE_BLOCK) {
        return 0;
    }
    CvVariant params[CVK_MESSAGE_NODE_PARAMS];
    int32_t count = 0;
    for (const AtrNode* var = node->GetChild(CVK_MESSAGE_NODE_VAR); var != nullptr && count < CVK_MESSAGE_NODE_PARAMS;
         var = var->GetNext(CVK_MESSAGE_NODE_VAR)) {
        if (!ReadVariant(var, params[count++])) {
            return 0;
        }
    }
    if (count < CVK_MESSAGE_NODE_PARAMS) {
        return 0;
    }
    return buffer->SetMessage(U32Attribute(node, CVK_MESSAGE_NODE_TO), U32Attribute(node, CVK_MESSAGE_NODE_MSG),
                              U32Attribute(node, CVK_MESSAGE_NODE_FROM), params[0], params[1], params[2], params[3],
                              params[4]);
}

int32_t CvkMessageBufferNode::GetMessageBlockNum(const AtrNode* node) const
{
    if (node == nullptr || node->GetElement() != CVK_MESSAGE_NODE_BUFFER) {
        return 0;
    }
    return node->GetChildSize(CVK_MESSAGE_NODE_BLOCK);
}
