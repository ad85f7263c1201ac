#include "attribute/AtrDefNode.h"

#include <climits>

namespace {

// C precedence, loosest first: | ^ & shifts additive multiplicative unary.
// A binary operator of level p has right priority 2p and left priority
// 2p + 1, so an equal operator already on the stack is combined first (left
// associative). Prefix operators bind tighter than every binary one and
// never pop each other (right associative).
struct OperatorInfo {
    int32_t type;
    int32_t left;
    int32_t right;
    int32_t arity;
};

constexpr OperatorInfo kOperators[] = {
    {ATRD_TYPE_END, 0, 0, 0},
    {ATRD_TYPE_OR, 3, 2, 2},
    {ATRD_TYPE_XOR, 5, 4, 2},
    {ATRD_TYPE_AND, 7, 6, 2},
    {ATRD_TYPE_SHL, 9, 8, 2},
    {ATRD_TYPE_SHR, 9, 8, 2},
    {ATRD_TYPE_ADD, 11, 10, 2},
    {ATRD_TYPE_SUB, 11, 10, 2},
    {ATRD_TYPE_MUL, 13, 12, 2},
    {ATRD_TYPE_DIV, 13, 12, 2},
    {ATRD_TYPE_MOD, 13, 12, 2},
    {ATRD_TYPE_NEG, 15, 16, 1},
    {ATRD_TYPE_PLUS, 15, 16, 1},
    {ATRD_TYPE_COMPL, 15, 16, 1},
    {ATRD_TYPE_NOT, 15, 16, 1},
    {ATRD_TYPE_OPEN, 0, 17, 0},
    {ATRD_TYPE_CLOSE, 14, 0, 0},
};

const OperatorInfo* FindOperator(int32_t type)
{
    for (const OperatorInfo& info : kOperators) {
        if (info.type == type) {
            return &info;
        }
    }
    return nullptr;
}

// A C value of a 32-bit int or unsigned int: its bit pattern and its type.
struct CValue {
    uint32_t bits;
    bool isUnsigned;
};

CValue Divide(CValue l, CValue r, bool remainder)
{
    const bool isUnsigned = l.isUnsigned || r.isUnsigned;
    // Division by zero has no C value; it gives 0 here.
    if (r.bits == 0) {
        return {0, isUnsigned};
    }
    if (isUnsigned) {
        return {remainder ? l.bits % r.bits : l.bits / r.bits, true};
    }
    const int32_t a = static_cast<int32_t>(l.bits);
    const int32_t b = static_cast<int32_t>(r.bits);
    // INT_MIN / -1 overflows; take the wrapped quotient and a remainder of 0.
    if (a == INT32_MIN && b == -1) {
        return {remainder ? 0u : l.bits, false};
    }
    return {static_cast<uint32_t>(remainder ? a % b : a / b), false};
}

CValue ShiftRight(CValue l, uint32_t count)
{
    if (l.isUnsigned) {
        return {l.bits >> count, true};
    }
    return {static_cast<uint32_t>(static_cast<int32_t>(l.bits) >> count), false};
}

// One operator applied as C does with 32-bit int; signed overflow wraps and
// shift counts are taken modulo 32.
CValue Apply(int32_t type, CValue l, CValue r)
{
    const bool isUnsigned = l.isUnsigned || r.isUnsigned;
    switch (type) {
    case ATRD_TYPE_NEG: return {0u - r.bits, r.isUnsigned};
    case ATRD_TYPE_PLUS: return r;
    case ATRD_TYPE_COMPL: return {~r.bits, r.isUnsigned};
    case ATRD_TYPE_NOT: return {r.bits == 0 ? 1u : 0u, false};
    case ATRD_TYPE_ADD: return {l.bits + r.bits, isUnsigned};
    case ATRD_TYPE_SUB: return {l.bits - r.bits, isUnsigned};
    case ATRD_TYPE_MUL: return {l.bits * r.bits, isUnsigned};
    case ATRD_TYPE_DIV: return Divide(l, r, false);
    case ATRD_TYPE_MOD: return Divide(l, r, true);
    case ATRD_TYPE_SHL: return {l.bits << (r.bits & 31), l.isUnsigned};
    case ATRD_TYPE_SHR: return ShiftRight(l, r.bits & 31);
    case ATRD_TYPE_AND: return {l.bits & r.bits, isUnsigned};
    case ATRD_TYPE_XOR: return {l.bits ^ r.bits, isUnsigned};
    case ATRD_TYPE_OR: return {l.bits | r.bits, isUnsigned};
    default: return {0, false};
    }
}

CValue ValueOf(const AtrDefNode* node)
{
    return {static_cast<uint32_t>(node->GetValue()), node->GetType() == ATRD_TYPE_UINT};
}

} // namespace

int32_t AtrDefOperatorLeft(int32_t type)
{
    const OperatorInfo* info = FindOperator(type);
    return info != nullptr ? info->left : -1;
}

int32_t AtrDefOperatorRight(int32_t type)
{
    const OperatorInfo* info = FindOperator(type);
    return info != nullptr ? info->right : -1;
}

int32_t AtrDefOperatorArity(int32_t type)
{
    const OperatorInfo* info = FindOperator(type);
    return info != nullptr ? info->arity : 0;
}

// ---------------------------------------------------------------------------

AtrDefNode::AtrDefNode(const AtrDefToken* token, AtrDefNode* left_, AtrDefNode* right_)
    : type(ATRD_TYPE_END), value(0), left(left_), right(right_)
{
    SetTag(0x41544E44); // "ATND"
    if (token == nullptr) {
        SetError();
        return;
    }
    type = token->type;
    value = token->value;
}

AtrDefNode::~AtrDefNode()
{
    ClearChild();
}

void AtrDefNode::SetChild(AtrDefNode* newLeft, AtrDefNode* newRight)
{
    ClearChild();
    left = newLeft;
    right = newRight;
}

void AtrDefNode::ClearChild()
{
    delete left;
    delete right;
    left = nullptr;
    right = nullptr;
}

int32_t AtrDefNode::Evaluate()
{
    const int32_t arity = AtrDefOperatorArity(type);
    if (arity == 0) {
        return IsNumber() ? 1 : 0;
    }
    if (right == nullptr || !right->IsNumber()) {
        return 0;
    }
    if (arity == 2 && (left == nullptr || !left->IsNumber())) {
        return 0;
    }
    const CValue l = arity == 2 ? ValueOf(left) : CValue{0, false};
    const CValue result = Apply(type, l, ValueOf(right));
    ClearChild();
    type = result.isUnsigned ? ATRD_TYPE_UINT : ATRD_TYPE_INT;
    value = static_cast<int32_t>(result.bits);
    return 1;
}

// ---------------------------------------------------------------------------

AtrDefNodeStack::AtrDefNodeStack() : top(nullptr), spare(nullptr)
{
    SetTag(0x41544E53); // "ATNS"
}

AtrDefNodeStack::~AtrDefNodeStack()
{
    Clear();
    while (spare != nullptr) {
        Entry* below = spare->below;
        delete spare;
        spare = below;
    }
}

void AtrDefNodeStack::Push(AtrDefNode* node)
{
    if (node == nullptr) {
        SetError();
        return;
    }
    Entry* entry = spare;
    if (entry != nullptr) {
        spare = entry->below;
    } else {
        entry = new Entry;
        if (entry == nullptr) {
            delete node; // nobody else holds it
            SetError();
            return;
        }
    }
    entry->node = node;
    entry->below = top;
    top = entry;
}

AtrDefNode* AtrDefNodeStack::Pop()
{
    Entry* entry = top;
    if (entry == nullptr) {
        return nullptr;
    }
    top = entry->below;
    entry->below = spare;
    spare = entry;
    return entry->node;
}

void AtrDefNodeStack::Clear()
{
    while (AtrDefNode* node = Pop()) {
        delete node;
    }
}
