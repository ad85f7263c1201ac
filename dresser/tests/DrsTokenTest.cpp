// Tokens, the token stack, scopes and function lists, and the lexer's token
// walking and insertion that the parser relies on.
#include "dresser/LexFunctionList.h"
#include "dresser/LexScopeVariant.h"
#include "dresser/tests/DresserTestKit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using DrsTokenTest = DresserTest;

TEST_F(DrsTokenTest, FlagsFollowTheCode)
{
    struct Case {
        uint16_t code;
        uint32_t flags;
    };
    const Case cases[] = {
        {DRS_TOKEN_ASSIGN, 0x001},      {DRS_TOKEN_LOR, 0x001},         {DRS_TOKEN_IF, 0x002},
        {DRS_TOKEN_SYNCH, 0x002},       {DRS_TOKEN_MODULE_CALL, 0x201}, {DRS_TOKEN_INST_CALL, 0x201},
        {DRS_TOKEN_INT16, 0x005},       {DRS_TOKEN_INT32, 0x005},       {DRS_TOKEN_FLOAT, 0x009},
        {DRS_TOKEN_FIXED, 0x009},       {DRS_TOKEN_STRING, 0x011},      {DRS_TOKEN_VAR, 0x021},
        {DRS_TOKEN_ARRAY, 0x021},       {DRS_TOKEN_ELSE, 0x002},        {DRS_TOKEN_CONTINUE, 0x002},
        {DRS_TOKEN_LABEL, 0},           {DRS_TOKEN_DECL_VAR, 0x040},    {DRS_TOKEN_DECL_ARRAY, 0x040},
        {DRS_TOKEN_MODULE_NAME, 0},     {DRS_TOKEN_COLON, 0x080},       {DRS_TOKEN_RBRACKET, 0x080},
        {DRS_TOKEN_END, 0x100},         {DRS_TOKEN_NAME_DIRECTIVE, 0x100},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DrsTokenFlagsOf(c.code), c.flags) << c.code;
    }
}

TEST_F(DrsTokenTest, TokenAccessors)
{
    auto* t = new DrsToken(DRS_TOKEN_VAR, 12);
    EXPECT_EQ(t->GetParam().GetType(), CVK_VARIANT_TYPE_SINT);
    EXPECT_EQ(t->GetParamS32(), 0);
    EXPECT_EQ(t->GetString(), nullptr);
    EXPECT_EQ(t->GetStringLength(), -1);
    t->SetString("abc");
    t->SetString(nullptr);
    EXPECT_STREQ(t->GetString(), "abc");
    EXPECT_EQ(t->GetStringLength(), 3);
    t->SetTokenFlag(0, DrsTokenFlagsOf(DRS_TOKEN_VAR));
    EXPECT_TRUE(t->IsOperator());
    EXPECT_TRUE(t->IsOperator(DRS_TOKEN_VAR));
    EXPECT_FALSE(t->IsOperator(DRS_TOKEN_ARRAY));
    EXPECT_FALSE(t->IsKeyword());
    EXPECT_EQ(t->CheckTokenFlag(DRS_TOKEN_FLAG_OPERAND), DRS_TOKEN_FLAG_VARIABLE);
    t->SetTokenFlag(DRS_TOKEN_FLAG_EXPRESSION, DRS_TOKEN_FLAG_SYSTEM);
    EXPECT_EQ(t->GetTokenFlag(), 0x101u);
    // Reading the parameter as another kind converts as a variant does.
    t->SetParamF32(2.5f);
    EXPECT_EQ(t->GetParamF32(), 2.5f);
    EXPECT_EQ(t->GetParamS32(), 2);
    EXPECT_EQ(t->GetParamFx32(), 10240);
    t->SetParamFx32(6144);
    EXPECT_EQ(t->GetParamF32(), 1.5f);
    EXPECT_EQ(t->GetParamS32(), 1);
    EXPECT_EQ(t->GetParam().GetType(), CVK_VARIANT_TYPE_FIXED);
    t->SetParamS32(-3);
    EXPECT_EQ(t->GetParamF32(), -3.0f);
    EXPECT_EQ(t->GetParamFx32(), -3 * 4096);
    EXPECT_EQ(t->GetLine(), 12);
    delete t;
}

TEST_F(DrsTokenTest, StackKeepsItsHighWaterMark)
{
    DrsToken a(DRS_TOKEN_VAR, 1);
    DrsToken b(DRS_TOKEN_VAR, 2);
    auto* stack = new DrsTokenStack;
    EXPECT_EQ(stack->Pop(), nullptr);
    EXPECT_EQ(stack->Top(), nullptr);
    stack->Push(&a);
    stack->Push(&b);
    EXPECT_EQ(stack->Top(), &b);
    EXPECT_EQ(stack->Pop(), &b);
    stack->Push(&b);
    stack->Push(&a);
    EXPECT_EQ(stack->Size(), 3);
    EXPECT_EQ(stack->GetMaxSize(), 3);
    EXPECT_EQ(stack->Pop(), &a);
    EXPECT_EQ(stack->Size(), 2);
    EXPECT_EQ(stack->GetMaxSize(), 3);
    systemHeap.refuse = 1;
    stack->Push(&a);
    systemHeap.refuse = 0;
    EXPECT_NE(stack->CheckError(), 0u);
    EXPECT_EQ(stack->Size(), 2);
    delete stack; // frees the links, not the tokens
}

TEST_F(DrsTokenTest, ScopesNumberSlotsThroughTheirAncestors)
{
    auto* globals = new LexScopeVariant;
    EXPECT_EQ(globals->AddVariant("a", 1), 0);
    EXPECT_EQ(globals->AddVariant("arr", 10), 1);
    EXPECT_EQ(globals->AddVariant("b", 1), 11);
    EXPECT_EQ(globals->AddVariant("a", 1), DRS_SLOT_NONE);
    auto* inner = new LexScopeVariant(globals);
    EXPECT_EQ(globals->GetChild(), inner);
    EXPECT_EQ(inner->GetBaseSlot(), 12);
    EXPECT_EQ(inner->AddVariant("c", 2), 12);
    EXPECT_EQ(inner->AddVariant("b", 1), DRS_SLOT_NONE) << "a name of an ancestor";
    EXPECT_EQ(inner->GetVariantId("c"), 12);
    EXPECT_EQ(inner->GetVariantId("b"), 11);
    EXPECT_EQ(inner->GetVariantId("zz"), DRS_SLOT_NONE);
    EXPECT_EQ(inner->GetVariantCount(), 2);
    EXPECT_EQ(inner->AddVariant("big", 65534 - 14 + 1), DRS_SLOT_NONE) << "past the slot limit";
    EXPECT_EQ(inner->AddVariant("fits", 65534 - 14), 14);
    EXPECT_EQ(inner->AddVariant("more", 1), DRS_SLOT_NONE);
    delete inner;
    EXPECT_EQ(globals->GetChild(), nullptr);
    delete globals;
}

TEST_F(DrsTokenTest, ModulesKeepLabelsGotosAndScope)
{
    auto* module = new LexFunctionList(3, "menu", 0, 0);
    EXPECT_EQ(module->GetVariantCount(), 0);
    LexScopeVariant* scope = module->CreateScopeVariant();
    ASSERT_NE(scope, nullptr);
    scope->AddVariant("p", 1);
    scope->AddVariant("q", 4);
    EXPECT_EQ(module->GetVariantCount(), 5);
    module->SetArgCount(2);
    EXPECT_TRUE(module->CheckArgCount(2));
    EXPECT_FALSE(module->CheckArgCount(3));

    EXPECT_EQ(module->AddLabel("top", 10, 4), 1);
    EXPECT_EQ(module->AddLabel("Top", 11, 5), 1);
    EXPECT_EQ(module->AddLabel("top", 12, 6), 0);
    EXPECT_EQ(Log(), "0006 topE9\n");
    EXPECT_EQ(module->GetLabelList("top")->codePos, 10u);
    EXPECT_EQ(module->GetLabelList("TOP"), nullptr);
    EXPECT_EQ(module->AddGoto("top", 20), 1);
    EXPECT_EQ(module->AddGoto("top", 30), 1);
    EXPECT_EQ(module->GetGotoHead()->codePos, 20u);
    EXPECT_EQ(module->GetGotoHead()->next->codePos, 30u);
    module->CreateScopeVariant();
    EXPECT_EQ(module->GetVariantCount(), 0);
    delete module;
}

TEST_F(DrsTokenTest, LexerWalksAndInsertsTokens)
{
    auto* lexer = new DrsLexer;
    ASSERT_EQ(lexer->CreateToken("module m(){\nx = 1;\n}\n", nullptr), 1);
    EXPECT_EQ(DescribeChain(*lexer), "51 59=0:m 64 65 66 36:x 0 31=1 62 67 71");
    uint16_t line = 0;
    EXPECT_EQ(lexer->GetCurrentToken(&line)->GetCode(), DRS_TOKEN_MODULE);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(lexer->GetModuleList(nullptr), lexer->GetModuleList("m"));
    EXPECT_EQ(lexer->SetModuleCodePos("m", 77), 1);
    EXPECT_EQ(lexer->GetModuleList("m")->GetModuleCodePos(), 77u);
    EXPECT_EQ(lexer->SetModuleCodePos("n", 1), 0);

    DrsToken* x = nullptr;
    for (int i = 0; i < 5; ++i) {
        x = lexer->GetNextToken(&line);
    }
    EXPECT_EQ(x->GetCode(), DRS_TOKEN_VAR);
    EXPECT_EQ(line, 2);
    EXPECT_NE(lexer->CheckCurrentTokenFlag(DRS_TOKEN_FLAG_VARIABLE), 0u);

    // Statements the parser writes into the chain.
    DrsToken* semicolon = x->GetNext()->GetNext()->GetNext();
    DrsToken* copy = lexer->InsertTokenNext(semicolon, x);
    lexer->InsertTokenNext(copy, DRS_TOKEN_ASSIGN, 0, nullptr);
    lexer->InsertTokenNext(copy->GetNext(), DRS_TOKEN_STRING, 0, "s");
    DrsToken* before = lexer->InsertTokenPrev(x, DRS_TOKEN_SYNCH, 0, nullptr);
    EXPECT_EQ(before->GetLine(), 2);
    EXPECT_EQ(lexer->GetCurrentToken(), before) << "inserted before the current token";
    EXPECT_EQ(copy->GetLine(), 0);
    EXPECT_EQ(DescribeChain(*lexer), "51 59=0:m 64 65 66 28 36:x 0 31=1 62 36:x 0 35:s 67 71");

    lexer->PushCurrentToken(copy);
    EXPECT_EQ(lexer->GetCurrentToken(), copy);
    EXPECT_EQ(lexer->PopCurrentToken(), before);
    EXPECT_EQ(lexer->PopCurrentToken(), nullptr);
    EXPECT_EQ(lexer->GetCurrentToken(), before);

    while (!lexer->IsTokenEnd()) {
        lexer->GetNextToken();
    }
    EXPECT_EQ(lexer->GetCurrentToken()->GetCode(), DRS_TOKEN_END);
    EXPECT_EQ(lexer->GetNextToken(&line), nullptr);
    EXPECT_TRUE(lexer->IsTokenEnd());
    delete lexer;
}

TEST_F(DrsTokenTest, LexerSurvivesAllocationFailures)
{
    const std::string text = "#define N 3\nenum { A, B };\nmodule m(p){\nvariant v[N];\nv[0] = \"text\" ; f(1.5, A);\n}\n";
    for (int after = 0; after < 200; ++after) {
        auto* lexer = new DrsLexer;
        if (lexer != nullptr && !lexer->CheckError()) {
            systemHeap.refuseAfter = after;
            bufferHeap.refuseAfter = after;
            lexer->CreateToken(text.c_str(), nullptr);
            systemHeap.refuseAfter = -1;
            bufferHeap.refuseAfter = -1;
        }
        delete lexer;
        DrsInitErrorInfo(nullptr);
        DrsGetErrorInfo()->SetMessageTree(TestMessageTree());
    }
}

} // namespace
