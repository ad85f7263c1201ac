#pragma once
// The parts of the definition analyzer's expression evaluator: the tokens of
// a value text, the nodes built from them and the stack that holds nodes
// while operators are combined by precedence.
//
// Values follow C with a 32-bit int: every number carries its type (int or
// unsigned int) and operators apply C's usual conversions. An operator is
// combined as soon as it is popped, so a node never holds more than one
// level of children and no evaluation recurses.
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Token and node types. Numbers carry their C type; the others are
// operators with the priorities of AtrDefOperatorLeft/Right.
enum : int32_t {
    ATRD_TYPE_END = -1,     // end of the value
    ATRD_TYPE_INT = 0,      // a number of type int (also a resolved name)
    ATRD_TYPE_UINT = 1,     // a number of type unsigned int
    ATRD_TYPE_ADD = 3,      // binary +
    ATRD_TYPE_SUB = 4,      // binary -
    ATRD_TYPE_MUL = 5,      // *
    ATRD_TYPE_DIV = 6,      // /
    ATRD_TYPE_MOD = 7,      // %
    ATRD_TYPE_XOR = 8,      // ^
    ATRD_TYPE_SHL = 10,     // <<
    ATRD_TYPE_SHR = 11,     // >>
    ATRD_TYPE_AND = 12,     // &
    ATRD_TYPE_OR = 13,      // |
    ATRD_TYPE_OPEN = 14,    // (
    ATRD_TYPE_CLOSE = 15,   // )
    ATRD_TYPE_NEG = 16,     // unary -
    ATRD_TYPE_PLUS = 17,    // unary +
    ATRD_TYPE_COMPL = 18,   // ~
    ATRD_TYPE_NOT = 19,     // !
};

// Priority of an operator on the stack and of an incoming one: an incoming
// operator pops every stacked one whose left priority exceeds its right
// priority. -1 for types that are no operator.
LUMIVOR_EXPORT int32_t AtrDefOperatorLeft(int32_t type);
LUMIVOR_EXPORT int32_t AtrDefOperatorRight(int32_t type);
// 1 for the prefix operators (one operand), 2 for the binary ones, 0 else.
LUMIVOR_EXPORT int32_t AtrDefOperatorArity(int32_t type);

// One lexical item of a value text.
struct AtrDefToken {
    AtrDefToken* next = nullptr;
    int32_t type = ATRD_TYPE_END;
    int32_t value = 0;   // numbers: the 32-bit pattern
};

class LUMIVOR_EXPORT AtrDefNode : public CvkBase {
public:
    // Type and value from `token` (null: Error flag, an end node); owns the
    // children.
    AtrDefNode(const AtrDefToken* token, AtrDefNode* left = nullptr, AtrDefNode* right = nullptr);
    ~AtrDefNode() override;
    AtrDefNode(const AtrDefNode&) = delete;
    AtrDefNode& operator=(const AtrDefNode&) = delete;

    int32_t GetType() const { return type; }
    int32_t GetValue() const { return value; }
    AtrDefNode* GetLeft() const { return left; }
    AtrDefNode* GetRight() const { return right; }
    bool IsNumber() const { return type == ATRD_TYPE_INT || type == ATRD_TYPE_UINT; }

    // Replaces the children (the former ones are destroyed).
    void SetChild(AtrDefNode* newLeft, AtrDefNode* newRight);
    // Destroys both children with their subtrees.
    void ClearChild();
    // An operator node whose operands are numbers becomes the number C
    // gives (children destroyed); 0 when an operand is missing or is no
    // number, nothing changed then.
    int32_t Evaluate();

private:
    int32_t type;
    int32_t value;
    AtrDefNode* left;
    AtrDefNode* right;
};

class LUMIVOR_EXPORT AtrDefNodeStack : public CvkBase {
public:
    AtrDefNodeStack();
    ~AtrDefNodeStack() override;   // Clear()
    AtrDefNodeStack(const AtrDefNodeStack&) = delete;
    AtrDefNodeStack& operator=(const AtrDefNodeStack&) = delete;

    // Takes ownership of `node`. A null node sets the Error flag; so does a
    // failed allocation, which destroys the node.
    void Push(AtrDefNode* node);
    // The top node (not destroyed) or null when empty.
    AtrDefNode* Pop();
    AtrDefNode* GetTop() const { return top != nullptr ? top->node : nullptr; }
    // Destroys every node still on the stack, with its subtree.
    void Clear();

private:
    struct Entry : public CvkAllocator {
        AtrDefNode* node;
        Entry* below;
    };
    Entry* top;
    Entry* spare;   // popped entries kept for the next push
};
