// The interpreter on a recording register bus: every instruction kind, the
// register spaces and the CSR window, and programs that try to leave their
// image, their response area or their register spaces.
#include <gtest/gtest.h>

#include "cdbc_log.h"
#include "cdbc_support.h"

namespace cdbctest {
namespace {

class CdbcCore : public ::testing::Test {
 protected:
  void SetUp() override { LogClear(); }
  FakeBus bus;
  Output out;
};

// ---------------------------------------------------------------------------
// Arithmetic, logic and moves

struct AluCase {
  const char* name;
  uint32_t r3, r5, r0;  // initial r3 (the destination), r5 and r0
  uint32_t insn;
  uint32_t wantR3, wantR0;
};

constexpr uint32_t R = TAMSIL_CDBC_OP_MOVE;  // shorthand for the table below
const AluCase kAlu[] = {
    {"move_imm_sign_extends", 0, 0, 0x55, Ins(R, 3, kImm, 0, 0xFFFF), 0xFFFFFFFF, 0x55},
    {"move_imm_positive", 0, 0, 0x55, Ins(R, 3, kImm, 0, 0x7FFF), 0x7FFF, 0x55},
    {"move_reg", 0, 0x1234, 0x55, Ins(R, 3, kReg, 0, 5), 0x1234, 0x55},
    {"move_var", 0, 0, 0x55, Ins(R, 3, kVar, 0, 40), 0xCAFEBABE, 0x55},
    {"move_flags_word", 0, 0, 0x55, Ins(R, 3, kReg, 0, 14), 0x2, 0x55},
    {"move_handle_word_hidden", 9, 0, 0x55, Ins(R, 3, kReg, 0, 12), 0, 0x55},
    {"or_zero_extends", 0x12340000, 0, 0x55, Ins(TAMSIL_CDBC_OP_OR, 3, kImm, 0, 0xFFFF), 0x1234FFFF, 0x55},
    {"and_zero_extends", 0x12345678, 0, 0x55, Ins(TAMSIL_CDBC_OP_AND, 3, kImm, 0, 0xFF00), 0x5600, 0x55},
    {"xor_zero_extends", 0xF000FF00, 0, 0x55, Ins(TAMSIL_CDBC_OP_XOR, 3, kImm, 0, 0xFFFF), 0xF00000FF, 0x55},
    {"not_of_operand", 0x1, 0, 0x55, Ins(TAMSIL_CDBC_OP_NOT, 3, kImm, 0, 0x00F0), 0xFFFFFF0F, 0x55},
    {"add_negative_imm", 5, 0, 0x55, Ins(TAMSIL_CDBC_OP_ADD, 3, kImm, 0, 0xFFFF), 4, 0x55},
    {"add_wraps", 0xFFFFFFFF, 0, 0x55, Ins(TAMSIL_CDBC_OP_ADD, 3, kImm, 0, 2), 1, 0x55},
    {"add_var", 1, 0, 0x55, Ins(TAMSIL_CDBC_OP_ADD, 3, kVar, 0, 40), 0xCAFEBABF, 0x55},
    {"add_handle_word_hidden", 1, 0, 0x55, Ins(TAMSIL_CDBC_OP_ADD, 3, kReg, 0, 13), 1, 0x55},
    {"sub_wraps", 0, 0, 0x55, Ins(TAMSIL_CDBC_OP_SUB, 3, kImm, 0, 1), 0xFFFFFFFF, 0x55},
    {"sub_negative_imm", 5, 0, 0x55, Ins(TAMSIL_CDBC_OP_SUB, 3, kImm, 0, 0xFFFF), 6, 0x55},
    {"mul_low_32_bits", 0x10000, 0x10003, 0x55, Ins(TAMSIL_CDBC_OP_MUL, 3, kReg, 0, 5), 0x30000, 0x55},
    {"mul_negative_imm", 7, 0, 0x55, Ins(TAMSIL_CDBC_OP_MUL, 3, kImm, 0, 0xFFFF), 0xFFFFFFF9, 0x55},
    {"div_remainder_to_r0", 47, 0, 0x55, Ins(TAMSIL_CDBC_OP_DIV, 3, kImm, 0, 10), 4, 7},
    {"mod_quotient_to_r0", 47, 0, 0x55, Ins(TAMSIL_CDBC_OP_MOD, 3, kImm, 0, 10), 7, 4},
    {"div_is_unsigned", 0xFFFFFFF0, 0, 0x55, Ins(TAMSIL_CDBC_OP_DIV, 3, kImm, 0, 0x10), 0x0FFFFFFF, 0},
    {"div_by_register_r0_keeps_r0", 47, 0, 10, Ins(TAMSIL_CDBC_OP_DIV, 3, kReg, 0, 0), 4, 10},
    {"mod_by_register_r0_keeps_r0", 47, 0, 10, Ins(TAMSIL_CDBC_OP_MOD, 3, kReg, 0, 0), 7, 10},
    {"div_by_zero_changes_nothing", 47, 0, 0x55, Ins(TAMSIL_CDBC_OP_DIV, 3, kImm, 0, 0), 47, 0x55},
    {"mod_by_zero_changes_nothing", 47, 0, 0x55, Ins(TAMSIL_CDBC_OP_MOD, 3, kReg, 0, 6), 47, 0x55},
};

class CdbcAlu : public CdbcCore, public ::testing::WithParamInterface<AluCase> {};

TEST_P(CdbcAlu, ComputesIntoTheRegister) {
  const AluCase& c = GetParam();
  Image img;
  img.w[0] = c.r0;
  img.w[3] = c.r3;
  img.w[5] = c.r5;
  img.w[6] = 0;
  img.w[TAMSIL_CDBC_W_FLAGS] = 0x2;
  img.w[40] = 0xCAFEBABE;
  img.Ops({c.insn, kEnd});
  EXPECT_EQ(Exec(img, bus, out), c.wantR0);
  EXPECT_EQ(img.w[3], c.wantR3);
  EXPECT_EQ(img.w[6], 0u) << "a neighbouring register changed";
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcAlu, ::testing::ValuesIn(kAlu),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcCore, DivRegisterZeroByImmediateLeavesQuotient) {
  Image img;
  img.w[0] = 47;
  img.Ops({Ins(TAMSIL_CDBC_OP_DIV, 0, kImm, 0, 10), kEnd});
  EXPECT_EQ(Exec(img, bus, out), 4u);
  Image m;
  m.w[0] = 47;
  m.Ops({Ins(TAMSIL_CDBC_OP_MOD, 0, kImm, 0, 10), kEnd});
  EXPECT_EQ(Exec(m, bus, out), 7u);
}

TEST_F(CdbcCore, MoveOutStoresIntoAVariable) {
  Image img;
  img.Ops({MoveImm(2, 0x1234), Ins(TAMSIL_CDBC_OP_MOVE, 2, kSpecial, 0, 50), kEnd});
  Exec(img, bus, out);
  EXPECT_EQ(img.w[50], 0x1234u);
}

// ---------------------------------------------------------------------------
// Malformed instructions: logged, skipped, and the run goes on

struct BadCase {
  const char* name;
  uint32_t insn;
  const char* message;
};

const BadCase kBad[] = {
    {"add_op1", Ins(TAMSIL_CDBC_OP_ADD, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'add' byte code"},
    {"add_reg", Ins(TAMSIL_CDBC_OP_ADD, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'add' byte code"},
    {"add_var", Ins(TAMSIL_CDBC_OP_ADD, 1, kVar, 0, 15), "CDBC: Variable operand error in 'add' byte code"},
    {"add_domain", Ins(TAMSIL_CDBC_OP_ADD, 1, kSpecial, 0, 40), "CDBC: domain error in 'add' byte code"},
    {"sub_var", Ins(TAMSIL_CDBC_OP_SUB, 1, kVar, 0, 3), "CDBC: Variable operand2 error in 'sub' byte code"},
    {"mul_domain", Ins(TAMSIL_CDBC_OP_MUL, 1, kSpecial, 0, 40), "CDBC: domain error in 'mul' byte code"},
    {"div_op1", Ins(TAMSIL_CDBC_OP_DIV, 15, kImm, 0, 1), "CDBC: Reg operand1 error in 'div' byte code"},
    {"mod_reg", Ins(TAMSIL_CDBC_OP_MOD, 1, kReg, 0, 20), "CDBC: Reg operand2 error in 'mod' byte code"},
    {"and_var", Ins(TAMSIL_CDBC_OP_AND, 1, kVar, 0, 0), "CDBC: Variable operand2 error in 'and' byte code"},
    {"or_domain", Ins(TAMSIL_CDBC_OP_OR, 1, kSpecial, 0, 40), "CDBC: domain error in 'or' byte code"},
    {"not_op1", Ins(TAMSIL_CDBC_OP_NOT, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'not' byte code"},
    {"xor_reg", Ins(TAMSIL_CDBC_OP_XOR, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'xor' byte code"},
    {"compare_domain", Ins(TAMSIL_CDBC_OP_COMPARE, 1, kSpecial, 0, 40), "CDBC: domain error in 'compare' byte code"},
    {"move_op1", Ins(TAMSIL_CDBC_OP_MOVE, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'move' byte code"},
    {"move_var", Ins(TAMSIL_CDBC_OP_MOVE, 1, kVar, 0, 2), "CDBC: Variable operand error in 'move' byte code"},
    {"moveout_to_register", Ins(TAMSIL_CDBC_OP_MOVE, 1, kSpecial, 0, 9), "CDBC: Variable operand error in 'moveout' byte code"},
    {"moveout_to_pc", Ins(TAMSIL_CDBC_OP_MOVE, 1, kSpecial, 0, 15), "CDBC: Variable operand error in 'moveout' byte code"},
    {"read_op1", Ins(TAMSIL_CDBC_OP_READ32, 12, kImm, 2, 0), "CDBC: Reg operand1 errorin 'read' byte code"},
    {"read_reg", Ins(TAMSIL_CDBC_OP_READ32, 1, kReg, 2, 15), "CDBC: Reg operand2 error in 'read' byte code"},
    {"write_var", Ins(TAMSIL_CDBC_OP_WRITE32, 1, kVar, 2, 8), "CDBC: Variable operand error in 'read' byte code"},
    {"write_domain", Ins(TAMSIL_CDBC_OP_WRITE8, 1, kSpecial, 2, 40), "CDBC: domain error in 'read' byte code"},
    {"stall_reg", Ins(TAMSIL_CDBC_OP_STALL, 0, kReg, 0, 15), "CDBC: Reg operand2 error in 'stall' byte code"},
    {"stall_var", Ins(TAMSIL_CDBC_OP_STALL, 0, kVar, 0, 1), "CDBC: Variable operand2 error in 'stall' byte code"},
    {"stall_domain", Ins(TAMSIL_CDBC_OP_STALL, 0, kSpecial, 0, 40), "CDBC: domain error in 'stall' byte code"},
    {"jump_condition", Ins(TAMSIL_CDBC_OP_JUMP, 9, kImm, 0, 3), "CDBC: condition error in 'jump' byte code"},
    {"jump_domain", Ins(TAMSIL_CDBC_OP_JUMP, 0, kSpecial, 0, 3), "CDBC: domain error in 'jump' byte code"},
    {"call_domain", Ins(TAMSIL_CDBC_OP_CALL, 0, kSpecial, 0, 3), "CDBC: domain error in 'call' byte code"},
    {"nop_with_bits", Ins(TAMSIL_CDBC_OP_NOP, 1, 0, 0, 0), "CDBC: encode error in 'nop' byte code"},
    {"dump_size", Dump(1, 3), "CDBC: size error in 'dump' byte code"},
    {"ret_with_bits", 0x0001001E, "CDBC: error 'ret' instruction cannot be invoked"},
    {"div_zero", Ins(TAMSIL_CDBC_OP_DIV, 1, kImm, 0, 0), "Error! Attempt to divide by zero"},
    // Every operand check of every instruction, by its own message.
    {"sub_op1", Ins(TAMSIL_CDBC_OP_SUB, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'sub' byte code"},
    {"sub_reg", Ins(TAMSIL_CDBC_OP_SUB, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'sub' byte code"},
    {"sub_domain", Ins(TAMSIL_CDBC_OP_SUB, 1, kSpecial, 0, 40), "CDBC: domain error in 'sub' byte code"},
    {"mul_op1", Ins(TAMSIL_CDBC_OP_MUL, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'mul' byte code"},
    {"mul_reg", Ins(TAMSIL_CDBC_OP_MUL, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'mul' byte code"},
    {"mul_var", Ins(TAMSIL_CDBC_OP_MUL, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'mul' byte code"},
    {"div_reg", Ins(TAMSIL_CDBC_OP_DIV, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'div' byte code"},
    {"div_var", Ins(TAMSIL_CDBC_OP_DIV, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'div' byte code"},
    {"div_domain", Ins(TAMSIL_CDBC_OP_DIV, 1, kSpecial, 0, 40), "CDBC: domain error in 'div' byte code"},
    {"mod_op1", Ins(TAMSIL_CDBC_OP_MOD, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'mod' byte code"},
    {"mod_var", Ins(TAMSIL_CDBC_OP_MOD, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'mod' byte code"},
    {"mod_domain", Ins(TAMSIL_CDBC_OP_MOD, 1, kSpecial, 0, 40), "CDBC: domain error in 'mod' byte code"},
    {"and_op1", Ins(TAMSIL_CDBC_OP_AND, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'and' byte code"},
    {"and_reg", Ins(TAMSIL_CDBC_OP_AND, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'and' byte code"},
    {"and_domain", Ins(TAMSIL_CDBC_OP_AND, 1, kSpecial, 0, 40), "CDBC: domain error in 'and' byte code"},
    {"or_op1", Ins(TAMSIL_CDBC_OP_OR, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'or' byte code"},
    {"or_reg", Ins(TAMSIL_CDBC_OP_OR, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'or' byte code"},
    {"or_var", Ins(TAMSIL_CDBC_OP_OR, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'or' byte code"},
    {"not_reg", Ins(TAMSIL_CDBC_OP_NOT, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'not' byte code"},
    {"not_var", Ins(TAMSIL_CDBC_OP_NOT, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'not' byte code"},
    {"not_domain", Ins(TAMSIL_CDBC_OP_NOT, 1, kSpecial, 0, 40), "CDBC: domain error in 'not' byte code"},
    {"xor_op1", Ins(TAMSIL_CDBC_OP_XOR, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'xor' byte code"},
    {"xor_var", Ins(TAMSIL_CDBC_OP_XOR, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'xor' byte code"},
    {"xor_domain", Ins(TAMSIL_CDBC_OP_XOR, 1, kSpecial, 0, 40), "CDBC: domain error in 'xor' byte code"},
    {"compare_op1", Ins(TAMSIL_CDBC_OP_COMPARE, 12, kImm, 0, 1), "CDBC: Reg operand1 error in 'compare' byte code"},
    {"compare_reg", Ins(TAMSIL_CDBC_OP_COMPARE, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'compare' byte code"},
    {"compare_var", Ins(TAMSIL_CDBC_OP_COMPARE, 1, kVar, 0, 15), "CDBC: Variable operand2 error in 'compare' byte code"},
    {"move_reg", Ins(TAMSIL_CDBC_OP_MOVE, 1, kReg, 0, 15), "CDBC: Reg operand2 error in 'move' byte code"},
    {"read_var", Ins(TAMSIL_CDBC_OP_READ8, 1, kVar, 0, 3), "CDBC: Variable operand error in 'read' byte code"},
    {"read_domain", Ins(TAMSIL_CDBC_OP_READ16, 1, kSpecial, 3, 40), "CDBC: domain error in 'read' byte code"},
    {"write_op1", Ins(TAMSIL_CDBC_OP_WRITE16, 13, kImm, 3, 0), "CDBC: Reg operand1 errorin 'read' byte code"},
};

class CdbcBad : public CdbcCore, public ::testing::WithParamInterface<BadCase> {};

TEST_P(CdbcBad, LogsSkipsAndGoesOn) {
  const BadCase& c = GetParam();
  Image img;
  img.w[1] = 0x11;
  img.w[0] = 0x77;
  img.Ops({c.insn, MoveImm(kMarker, 1), kEnd});
  std::vector<uint32_t> before(img.w.begin(), img.w.begin() + 15);
  EXPECT_EQ(Exec(img, bus, out), 0x77u);
  EXPECT_EQ(img.w[kMarker], 1u);
  EXPECT_EQ(img.w[9], 0x1000u) << "nothing dumped";
  img.w[kMarker] = 0;
  img.w[9] = before[9];
  EXPECT_EQ(std::vector<uint32_t>(img.w.begin(), img.w.begin() + 15), before);
  EXPECT_EQ(bus.log.size(), 0u);
  std::string want = std::string("TAMSIL_CDBC_ASSERT: tamsil_cdbc:");
  EXPECT_TRUE(LogHas(want)) << LogText();
  EXPECT_TRUE(LogHas(std::string("  ") + c.message + "\n\n")) << LogText();
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcBad, ::testing::ValuesIn(kBad),
                         [](const auto& i) { return std::string(i.param.name); });

// Opcodes without an operation are skipped like opcodes above 30.
TEST_F(CdbcCore, UndefinedOpcodesAreSkipped) {
  for (uint32_t op : {2u, 3u, 4u, 5u, 6u, 7u, 11u, 15u, 31u, 45u, 255u}) {
    Image img;
    img.w[0] = 0x77;
    img.Ops({Ins(op, 1, kReg, 3, 0xFFFF), MoveImm(kMarker, 1), kEnd});
    EXPECT_EQ(Exec(img, bus, out), 0x77u) << op;
    EXPECT_EQ(img.w[kMarker], 1u) << op;
    EXPECT_EQ(img.w[1], 0u) << op;
  }
  EXPECT_EQ(bus.log.size(), 0u);
  EXPECT_EQ(LogText(), "");
}

// Words 12-13 would carry the Adapter's address: a program reads them as 0
// whatever the image held.
TEST_F(CdbcCore, AdapterHandleWordsReadAsZero) {
  Image img;
  img.w[TAMSIL_CDBC_W_HANDLE_LO] = 0x89ABCDEF;
  img.w[TAMSIL_CDBC_W_HANDLE_HI] = 0x7FFF1234;
  img.w[1] = img.w[2] = 0x55;
  img.Ops({Ins(TAMSIL_CDBC_OP_MOVE, 1, kReg, 0, TAMSIL_CDBC_W_HANDLE_LO),
           Ins(TAMSIL_CDBC_OP_OR, 2, kReg, 0, TAMSIL_CDBC_W_HANDLE_HI), Dump(TAMSIL_CDBC_W_HANDLE_LO, 2),
           Dump(TAMSIL_CDBC_W_HANDLE_HI, 2), kEnd});
  std::fill(out.Area(), out.Area() + out.len, 0xEE);
  Exec(img, bus, out);
  EXPECT_EQ(img.w[1], 0u);
  EXPECT_EQ(img.w[2], 0x55u);
  EXPECT_EQ(std::vector<uint8_t>(out.Area(), out.Area() + 8), std::vector<uint8_t>(8, 0));
}

TEST_F(CdbcCore, PcAtFinalWordReturnsAtOnce) {
  Image img;
  img.w[0] = 0xABCD;
  img.w[TAMSIL_CDBC_W_PC] = 20;
  img.w[20] = kEnd;
  img.w[16] = MoveImm(0, 1);
  EXPECT_EQ(Exec(img, bus, out), 0xABCDu);
}

// ---------------------------------------------------------------------------
// Compare and jump

struct JumpCase {
  const char* name;
  uint32_t r1;     // loaded as a 16-bit immediate (sign-extended)
  uint32_t with;   // compare immediate
  uint32_t flags;  // expected flag bits
  uint32_t mask;
  bool taken;
};

const JumpCase kJump[] = {
    {"gt_mask2", 7, 5, 0x2, 2, true},
    {"gt_mask4", 7, 5, 0x2, 4, false},
    {"gt_mask1", 7, 5, 0x2, 1, false},
    {"gt_mask0", 7, 5, 0x2, 0, true},
    {"gt_mask6", 7, 5, 0x2, 6, true},
    {"eq_mask1", 5, 5, 0x1, 1, true},
    {"eq_mask6", 5, 5, 0x1, 6, false},
    {"lt_mask4", 3, 5, 0x4, 4, true},
    {"lt_mask3", 3, 5, 0x4, 3, false},
    {"unsigned_gt", 0xFFFF, 5, 0x2, 2, true},          // r1 = 0xFFFFFFFF
    {"sign_extended_eq", 0xFFFF, 0xFFFF, 0x1, 1, true},
    {"unsigned_lt", 5, 0xFFFF, 0x4, 4, true},
};

class CdbcJump : public CdbcCore, public ::testing::WithParamInterface<JumpCase> {};

TEST_P(CdbcJump, FollowsTheFlags) {
  const JumpCase& c = GetParam();
  Image img;
  img.w[TAMSIL_CDBC_W_FLAGS] = 0x100;  // bits above 2 are not the compare's
  img.Ops({MoveImm(1, c.r1), Ins(TAMSIL_CDBC_OP_COMPARE, 1, kImm, 0, c.with), Jump(c.mask, 2),
           MoveImm(2, 1), kEnd});
  Exec(img, bus, out);
  EXPECT_EQ(img.w[TAMSIL_CDBC_W_FLAGS], 0x100u | c.flags);
  EXPECT_EQ(img.w[2], c.taken ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcJump, ::testing::ValuesIn(kJump),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcCore, JumpOffsetsAreRelativeToTheJumpWord) {
  // Offset 1 is a nop.
  Image a;
  a.Ops({Jump(0, 1), MoveImm(2, 5), kEnd});
  Exec(a, bus, out);
  EXPECT_EQ(a.w[2], 5u);

  // Offset 0xFFFF goes back to the word before the jump.
  Image b;
  b.Ops({MoveImm(2, 5), Jump(0, 3), MoveImm(2, 9), kEnd, Jump(0, 0xFFFF)});
  Exec(b, bus, out);
  EXPECT_EQ(b.w[2], 5u);

  // Register and variable offsets.
  Image c;
  c.w[4] = 3;
  c.w[60] = 2;
  c.Ops({Ins(TAMSIL_CDBC_OP_JUMP, 0, kReg, 0, 4), MoveImm(2, 9), MoveImm(2, 9),
         Ins(TAMSIL_CDBC_OP_JUMP, 0, kVar, 0, 60), MoveImm(3, 9), kEnd});
  Exec(c, bus, out);
  EXPECT_EQ(c.w[2], 0u);
  EXPECT_EQ(c.w[3], 0u);
}

TEST_F(CdbcCore, LoopCountsDown) {
  Image img;
  img.Ops({MoveImm(2, 100), Ins(TAMSIL_CDBC_OP_ADD, 3, kImm, 0, 2), Ins(TAMSIL_CDBC_OP_SUB, 2, kImm, 0, 1),
           Ins(TAMSIL_CDBC_OP_COMPARE, 2, kImm, 0, 0), Jump(6, 0xFFFD), kEnd});
  EXPECT_EQ(Exec(img, bus, out), 0u);
  EXPECT_EQ(img.w[3], 200u);
}

// ---------------------------------------------------------------------------
// Call

TEST_F(CdbcCore, CallRestoresWords4To15) {
  Image img;
  img.w[11] = 0x1111;
  img.Ops({MoveImm(4, 0x44), MoveImm(1, 0x11), Ins(TAMSIL_CDBC_OP_COMPARE, 1, kImm, 0, 0x11),
           Call(4), MoveImm(5, 1), Dump(0, 0), kEnd,
           // subroutine at 23
           MoveImm(4, 0x99), MoveImm(0, 1), MoveImm(1, 2), MoveImm(3, 3), Ins(TAMSIL_CDBC_OP_COMPARE, 1, kImm, 0, 9),
           MoveImm(11, 0x77), MoveImm(8, 0x88), Dump(1, 2), kEnd});
  EXPECT_EQ(Exec(img, bus, out), 1u);
  EXPECT_EQ(img.w[4], 0x44u);
  EXPECT_EQ(img.w[11], 0x1111u);
  EXPECT_EQ(img.w[8], 0u);
  EXPECT_EQ(img.w[TAMSIL_CDBC_W_FLAGS], TAMSIL_CDBC_FLAG_EQ);
  EXPECT_EQ(img.w[1], 2u);
  EXPECT_EQ(img.w[3], 3u);
  EXPECT_EQ(img.w[5], 1u);
  // r9 is one of the restored words: the subroutine's dump is overwritten
  // by the caller's.
  EXPECT_EQ(img.w[9], 0x1001u);
  EXPECT_EQ(out.Area()[0], 1u);
}

TEST_F(CdbcCore, NestedCalls) {
  Image img;
  img.Ops({Call(3), Call(2), kEnd,
           /*19*/ Ins(TAMSIL_CDBC_OP_ADD, 0, kImm, 0, 1), Call(2), kEnd,
           /*22*/ Ins(TAMSIL_CDBC_OP_ADD, 0, kImm, 0, 0x10), kEnd});
  EXPECT_EQ(Exec(img, bus, out), 0x22u);
}

// ---------------------------------------------------------------------------
// Dump and stall

TEST_F(CdbcCore, DumpWidthsAdvanceTheOutputPosition) {
  Image img;
  img.w[1] = 0x44332211;
  img.w[2] = 0xBBAA;
  img.Ops({Dump(1, 0), Dump(1, 1), Dump(2, 1), Dump(1, 2), Dump(TAMSIL_CDBC_W_PC, 2),
           Dump(TAMSIL_CDBC_W_HANDLE_LO, 2), kEnd});
  Exec(img, bus, out);
  EXPECT_EQ(img.w[9], 0x1000u + 5 + 4 + 4 + 4);
  const uint8_t want[] = {0x11, 0x11, 0x22, 0xAA, 0xBB, 0x11, 0x22, 0x33, 0x44, 21, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(out.Area(), out.Area() + sizeof(want)),
            std::vector<uint8_t>(want, want + sizeof(want)));
  EXPECT_TRUE(out.GuardsIntact());
}

TEST_F(CdbcCore, DumpFillsTheAreaExactly) {
  Image img;
  img.w[1] = 0xFFFFFFFF;
  img.Ops({Dump(1, 2), Ins(TAMSIL_CDBC_OP_COMPARE, 9, kImm, 0, 0x1000 + 32), Jump(4, 0xFFFE),
           MoveImm(0, 0x5), kEnd});
  EXPECT_EQ(Exec(img, bus, out), 5u);
  EXPECT_EQ(img.w[9], 0x1000u + 32);
  for (uint32_t i = 0; i < 32; i++) EXPECT_EQ(out.Area()[i], 0xFF);
  EXPECT_TRUE(out.GuardsIntact());
}

TEST_F(CdbcCore, StallBusyWaitsItsOperand) {
  Image img;
  img.w[2] = 300;
  img.w[40] = 5;
  img.Ops({Ins(TAMSIL_CDBC_OP_STALL, 0, kImm, 0, 0xFFFF), Ins(TAMSIL_CDBC_OP_STALL, 0, kReg, 0, 2),
           Ins(TAMSIL_CDBC_OP_STALL, 0, kVar, 0, 40), kEnd});
  Exec(img, bus, out);
  EXPECT_EQ(bus.delayedUs, 0xFFFFu + 300 + 5);  // immediate zero-extended
}

// ---------------------------------------------------------------------------
// Register spaces

struct SpaceCase {
  const char* name;
  uint32_t insn;       // r1 is the register operand; r2 = 0x104 for kind 1
  uint32_t r1;
  uint32_t family, pf;
  Access want;         // the one BAR access expected (kind 0: none)
  uint32_t wantR1;
};

constexpr uint32_t PC = TAMSIL_CDBC_SPACE_PCICFG, CSR = TAMSIL_CDBC_SPACE_CSR, DB = TAMSIL_CDBC_SPACE_DB;
const SpaceCase kSpaces[] = {
    {"read32_pcicfg", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 0, 0x58), 0, 0, 0, {'r', PC, 0x58, 0, 4}, 0},
    {"read16_pcicfg_space1", Ins(TAMSIL_CDBC_OP_READ16, 1, kImm, 1, 0x5A), 0, 0, 0, {'r', PC, 0x5A, 0, 2}, 0},
    {"read8_csr", Ins(TAMSIL_CDBC_OP_READ8, 1, kImm, 2, 0x103), 0, 0, 0, {'r', CSR, 0x103, 0, 1}, 0},
    {"read32_db", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 3, 0x400), 0, 0, 0, {'r', DB, 0x400, 0, 4}, 0},
    {"read32_csr_reg_address", Ins(TAMSIL_CDBC_OP_READ32, 1, kReg, 2, 2), 0, 0, 0, {'r', CSR, 0x104, 0, 4}, 0},
    {"read32_csr_var_address", Ins(TAMSIL_CDBC_OP_READ32, 1, kVar, 2, 40), 0, 0, 0, {'r', CSR, 0x1FFFC, 0, 4}, 0},
    {"write32_csr", Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 2, 0x20), 0xDEADBEEF, 0, 0, {'w', CSR, 0x20, 0xDEADBEEF, 4}, 0xDEADBEEF},
    {"write8_db_low_byte", Ins(TAMSIL_CDBC_OP_WRITE8, 1, kImm, 3, 0x41), 0x1FF, 0, 0, {'w', DB, 0x41, 0xFF, 1}, 0x1FF},
    {"write16_pcicfg", Ins(TAMSIL_CDBC_OP_WRITE16, 1, kImm, 0, 0x10), 0xABCDE, 0, 0, {'w', PC, 0x10, 0xBCDE, 2}, 0xABCDE},
    {"family4_db_still_bar", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 3, 0x8), 0, 4, 0, {'r', DB, 0x8, 0, 4}, 0},
    {"family4_pcicfg_still_bar", Ins(TAMSIL_CDBC_OP_READ8, 1, kImm, 0, 0x9), 0, 4, 0, {'r', PC, 0x9, 0, 1}, 0},
    {"family4_other_pf_reads_0", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x20), 0x1234, 4, 1, {0, 0, 0, 0, 0}, 0},
    {"family4_other_pf_writes_nothing", Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 2, 0x20), 0x1234, 4, 2, {0, 0, 0, 0, 0}, 0x1234},
};

class CdbcSpace : public CdbcCore, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(CdbcSpace, ReachesTheNamedSpace) {
  const SpaceCase& c = GetParam();
  // Distinct byte patterns per space so a read shows where it went.
  for (uint32_t b : {PC, CSR, DB})
    for (size_t i = 0; i < bus.bar[b].size(); i++) bus.bar[b][i] = static_cast<uint8_t>(i * 7 + b * 0x40);
  Image img;
  img.w[1] = c.r1;
  img.w[2] = 0x104;
  img.w[40] = 0x1FFFC;
  img.Ops({c.insn, kEnd});
  Exec(img, bus, out, {.family = c.family, .pf = c.pf});
  if (c.want.kind == 0) {
    EXPECT_EQ(bus.log.size(), 0u);
    EXPECT_EQ(img.w[1], c.wantR1);
    return;
  }
  ASSERT_EQ(bus.log.size(), 1u);
  Access a = bus.log[0];
  EXPECT_EQ(a.kind, c.want.kind);
  EXPECT_EQ(a.bar, c.want.bar);
  EXPECT_EQ(a.offset, c.want.offset);
  EXPECT_EQ(a.width, c.want.width);
  if (a.kind == 'r') {
    EXPECT_EQ(img.w[1], bus.Get(c.want.bar, c.want.offset, c.want.width));  // zero-extended
  } else {
    EXPECT_EQ(a.value, c.want.value);
    EXPECT_EQ(img.w[1], c.wantR1);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcSpace, ::testing::ValuesIn(kSpaces),
                         [](const auto& i) { return std::string(i.param.name); });

// CSR window of family code 4 on function 0.
TEST_F(CdbcCore, WindowReadsThroughConfigRegisterFC) {
  bus.window[0x1234] = 0xAABBCCDD;
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x1234), Ins(TAMSIL_CDBC_OP_READ8, 2, kImm, 2, 0x1237),
           Ins(TAMSIL_CDBC_OP_READ16, 3, kImm, 2, 0x1236), kEnd});
  Exec(img, bus, out, {.family = 4});
  EXPECT_EQ(img.w[1], 0xAABBCCDDu);
  EXPECT_EQ(img.w[2], 0xAAu);
  EXPECT_EQ(img.w[3], 0xAABBu);
  EXPECT_EQ(bus.BarAccesses(), 0u);
  // Per access: control read twice, window address word, data read.
  ASSERT_EQ(bus.log.size(), 12u);
  EXPECT_EQ(bus.log[0], (Access{'c', 0, 0xFC, 0x12300000, 4}));
  EXPECT_EQ(bus.log[1], (Access{'c', 0, 0xFC, 0x12300000, 4}));
  EXPECT_EQ(bus.log[2], (Access{'C', 0, 0xFC, 0x12300000u | 0x80000002u | 0x1234u, 4}));
  EXPECT_EQ(bus.log[3], (Access{'c', 0, 0xFC, 0xAABBCCDD, 4}));
}

TEST_F(CdbcCore, WindowWritesMergeNarrowValues) {
  bus.window[0x2000] = 0x11223344;
  Image img;
  img.w[1] = 0xEE;
  img.w[2] = 0x5566;
  img.w[3] = 0xCAFEF00D;
  img.Ops({Ins(TAMSIL_CDBC_OP_WRITE8, 1, kImm, 2, 0x2001), kEnd});
  Exec(img, bus, out, {.family = 4});
  EXPECT_EQ(bus.window[0x2000], 0x1122EE44u);
  Image b;
  b.w[2] = 0x5566;
  b.Ops({Ins(TAMSIL_CDBC_OP_WRITE16, 2, kImm, 2, 0x2002), kEnd});
  Exec(b, bus, out, {.family = 4});
  EXPECT_EQ(bus.window[0x2000], 0x5566EE44u);
  Image c;
  c.w[3] = 0xCAFEF00D;
  c.Ops({Ins(TAMSIL_CDBC_OP_WRITE32, 3, kImm, 2, 0x3000), kEnd});
  Exec(c, bus, out, {.family = 4});
  EXPECT_EQ(bus.window[0x3000], 0xCAFEF00Du);
  EXPECT_EQ(bus.window[0x2000], 0x5566EE44u);
  EXPECT_EQ(bus.BarAccesses(), 0u);
}

struct WindowFaultCase {
  const char* name;
  uint32_t insn;
  int failRead, failWrite;  // n-th config access that fails (-1 none)
  bool winmode;
  const char* fn;           // operation named in the log line
  const char* message;
  uint32_t wantR1;
  uint32_t wantWindow;      // content of window dword 0x40 afterwards
};

const WindowFaultCase kWindowFaults[] = {
    {"read_ctrl_fails", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x40), 0, -1, false, "tamsil_memBarWndRead32",
     "Unable to read PCI Config MEMBAR_INT_CTRL\n", 0, 0x01020304},
    {"read_ctrl_second_read_fails", Ins(TAMSIL_CDBC_OP_READ16, 1, kImm, 2, 0x40), 1, -1, false, "tamsil_memBarWndRead16",
     "Unable to read PCI Config MEMBAR_INT_CTRL\n", 0, 0x01020304},
    {"read_winmode", Ins(TAMSIL_CDBC_OP_READ8, 1, kImm, 2, 0x40), -1, -1, true, "tamsil_memBarWndRead8",
     "winmode bit set in PCI Config MEMBAR_INT_CTRL\n", 0, 0x01020304},
    {"read_address_write_fails", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x40), -1, 0, false, "tamsil_memBarWndRead32",
     "Unable to write PCI Config MEMBAR_INT_CTRL\n", 0, 0x01020304},
    {"read_data_fails", Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x40), 2, -1, false, "tamsil_memBarWndRead32",
     "Unable to read PCI Config MEMBAR_INT_CTRL\n", 0, 0x01020304},
    {"write32_winmode", Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 2, 0x40), -1, -1, true, "tamsil_memBarWndWrite32",
     "winmode bit set in PCI Config MEMBAR_INT_CTRL\n", 0x99, 0x01020304},
    {"write32_data_fails", Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 2, 0x40), -1, 1, false, "tamsil_memBarWndWrite32",
     "Unable to write PCI Config MEMBAR_INT_CTRL\n", 0x99, 0x01020304},
    {"write8_existing_fails", Ins(TAMSIL_CDBC_OP_WRITE8, 1, kImm, 2, 0x40), 2, -1, false, "tamsil_memBarWndWrite8",
     "Unable to get existing value in PCI Config MEMBAR_INT_CTRL\n", 0x99, 0x01020304},
    {"write16_existing_winmode", Ins(TAMSIL_CDBC_OP_WRITE16, 1, kImm, 2, 0x40), -1, -1, true, "tamsil_memBarWndWrite16",
     "Unable to get existing value in PCI Config MEMBAR_INT_CTRL\n", 0x99, 0x01020304},
};

class CdbcWindowFault : public CdbcCore, public ::testing::WithParamInterface<WindowFaultCase> {};

TEST_P(CdbcWindowFault, ReadsZeroOrSkipsTheWrite) {
  const WindowFaultCase& c = GetParam();
  bus.window[0x40] = 0x01020304;
  bus.failCfgReadAt = c.failRead;
  bus.failCfgWriteAt = c.failWrite;
  if (c.winmode) bus.ctrl |= 1;
  Image img;
  img.w[1] = 0x99;
  img.w[0] = 0x3;
  img.Ops({c.insn, MoveImm(kMarker, 1), kEnd});
  EXPECT_EQ(Exec(img, bus, out, {.family = 4}), 0x3u);
  EXPECT_EQ(img.w[1], c.wantR1);
  EXPECT_EQ(img.w[kMarker], 1u);
  EXPECT_EQ(bus.window[0x40], c.wantWindow);
  EXPECT_TRUE(LogHas(std::string(c.fn) + ":")) << LogText();
  EXPECT_TRUE(LogHas(c.message)) << LogText();
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcWindowFault, ::testing::ValuesIn(kWindowFaults),
                         [](const auto& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Programs that try to escape their bounds: each ends at once with an error
// status in r0, touches nothing outside its image, its response area and its
// register spaces, and runs no further instruction.

struct EscapeCase {
  const char* name;
  std::vector<uint32_t> prog;
  uint32_t pc;      // entry program counter (0: 16)
  uint32_t r9;      // output position at entry (0: the base)
  uint32_t family;
  uint32_t want;    // r0
  const char* message;
  uint32_t dumped;  // bytes validly written before the fault
};

constexpr uint32_t kB = TAMSIL_CDBC_ERR_BOUNDS, kL = TAMSIL_CDBC_ERR_LIMIT;
const EscapeCase kEscapes[] = {
    {"variable_past_image", {Ins(TAMSIL_CDBC_OP_ADD, 1, kVar, 0, 64)}, 0, 0, 0, kB,
     "CDBC: Variable outside the image in 'add' byte code", 0},
    {"variable_far_past_image", {Ins(TAMSIL_CDBC_OP_MOVE, 1, kVar, 0, 0xFFFF)}, 0, 0, 0, kB,
     "CDBC: Variable outside the image in 'move' byte code", 0},
    {"moveout_past_image", {Ins(TAMSIL_CDBC_OP_MOVE, 1, kSpecial, 0, 64)}, 0, 0, 0, kB,
     "CDBC: Variable outside the image in 'moveout' byte code", 0},
    {"read_address_from_var_past_image", {Ins(TAMSIL_CDBC_OP_READ32, 1, kVar, 2, 100)}, 0, 0, 0, kB,
     "CDBC: Variable outside the image in 'read' byte code", 0},
    {"jump_past_end", {Jump(0, 100)}, 0, 0, 0, kB, "CDBC: target outside the program in 'jump' byte code", 0},
    {"jump_to_last_word_plus_one", {Jump(0, 48)}, 0, 0, 0, kB,
     "CDBC: target outside the program in 'jump' byte code", 0},
    {"jump_into_header", {Jump(0, 0xFFFB)}, 0, 0, 0, kB, "CDBC: target outside the program in 'jump' byte code", 0},
    {"jump_via_register", {MoveImm(2, 0x7FFF), Ins(TAMSIL_CDBC_OP_JUMP, 0, kReg, 0, 2)}, 0, 0, 0, kB,
     "CDBC: target outside the program in 'jump' byte code", 0},
    {"jump_via_variable", {Ins(TAMSIL_CDBC_OP_JUMP, 0, kVar, 0, 70)}, 0, 0, 0, kB,
     "CDBC: Variable outside the image in 'jump' byte code", 0},
    {"call_past_end", {Call(0x1000)}, 0, 0, 0, kB, "CDBC: target outside the program in 'call' byte code", 0},
    {"call_backwards_into_registers", {Call(0xFFF0)}, 0, 0, 0, kB,
     "CDBC: target outside the program in 'call' byte code", 0},
    {"runs_off_the_end", {Jump(0, 47), 0, 0}, 0, 0, 0, kB, "CDBC: program counter outside the program", 0},
    {"entry_in_header", {}, 3, 0, 0, kB, "CDBC: program counter outside the program", 0},
    {"entry_past_image", {}, 64, 0, 0, kB, "CDBC: program counter outside the program", 0},
    {"entry_huge", {}, 0xFFFFFFFF, 0, 0, kB, "CDBC: program counter outside the program", 0},
    {"read_at_bar_end", {Ins(TAMSIL_CDBC_OP_READ8, 1, kImm, 0, 0), MoveImm(2, 0x1000),
                         Ins(TAMSIL_CDBC_OP_READ8, 1, kReg, 0, 2)}, 0, 0, 0, kB,
     "CDBC: register offset outside the mapped BAR in 'read' byte code", 0},
    {"reads_up_to_bar_end", {MoveImm(2, 0xFFC), Ins(TAMSIL_CDBC_OP_READ32, 1, kReg, 0, 2),
                                  MoveImm(2, 0xFFE), Ins(TAMSIL_CDBC_OP_READ16, 1, kReg, 0, 2),
                                  MoveImm(2, 0x1002), Ins(TAMSIL_CDBC_OP_READ16, 1, kReg, 0, 2)}, 0, 0, 0, kB,
     "CDBC: register offset outside the mapped BAR in 'read' byte code", 0},
    {"write_far_past_db", {MoveImm(2, 0x4000), Ins(TAMSIL_CDBC_OP_MUL, 2, kImm, 0, 0x4000),
                           Ins(TAMSIL_CDBC_OP_WRITE32, 1, kReg, 3, 2)}, 0, 0, 0, kB,
     "CDBC: register offset outside the mapped BAR in 'read' byte code", 0},
    {"write_address_wraps", {MoveImm(2, 0xFFFC), Ins(TAMSIL_CDBC_OP_WRITE32, 1, kReg, 2, 2)}, 0, 0, 0, kB,
     "CDBC: register offset outside the mapped BAR in 'read' byte code", 0},
    {"unaligned_read32", {Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0x102)}, 0, 0, 0, kB,
     "CDBC: unaligned register offset in 'read' byte code", 0},
    {"unaligned_write16", {Ins(TAMSIL_CDBC_OP_WRITE16, 1, kImm, 3, 0x11)}, 0, 0, 0, kB,
     "CDBC: unaligned register offset in 'read' byte code", 0},
    {"window_past_1MB", {MoveImm(2, 0x10), Ins(TAMSIL_CDBC_OP_MUL, 2, kImm, 0, 0x1000),
                         Ins(TAMSIL_CDBC_OP_MUL, 2, kImm, 0, 0x10), Ins(TAMSIL_CDBC_OP_READ32, 1, kReg, 2, 2)},
     0, 0, 4, kB, "CDBC: register offset outside the window in 'read' byte code", 0},
    {"dump_below_base", {Dump(1, 2)}, 0, 0xFFF, 0, kB,
     "CDBC: output position outside the response area in 'dump' byte code", 0},
    {"dump_past_end", {Dump(1, 2), Dump(1, 2)}, 0, 0x1000 + 28, 0, kB,
     "CDBC: output position outside the response area in 'dump' byte code", 32},
    {"dump_straddles_end", {Dump(1, 1), Dump(1, 2)}, 0, 0x1000 + 29, 0, kB,
     "CDBC: output position outside the response area in 'dump' byte code", 31},
    {"dump_position_wraps", {Dump(1, 0)}, 0, 0xFFFFFFFF, 0, kB,
     "CDBC: output position outside the response area in 'dump' byte code", 0},
    {"dump_after_moving_r9_far", {Dump(1, 2), MoveImm(9, 0x7FFF), Dump(1, 2)}, 0, 0, 0, kB,
     "CDBC: output position outside the response area in 'dump' byte code", 4},
    {"ends_with_r9_moved_far", {Dump(1, 2), Dump(1, 2), Ins(TAMSIL_CDBC_OP_ADD, 9, kImm, 0, 0x7FFF), kEnd}, 0, 0, 0, kB,
     "CDBC: output position outside the response area at the end of the run", 8},
    {"ends_with_r9_below_base", {Dump(1, 0), Ins(TAMSIL_CDBC_OP_SUB, 9, kImm, 0, 2), kEnd}, 0, 0, 0, kB,
     "CDBC: output position outside the response area at the end of the run", 1},
    {"endless_loop", {Jump(0, 0)}, 0, 0, 0, kL, "CDBC: step limit reached", 0},
    {"endless_loop_of_calls", {Call(2), Jump(0, 0xFFFF), kEnd}, 0, 0, 0, kL, "CDBC: step limit reached", 0},
    {"recursion", {Call(0)}, 0, 0, 0, kL, "CDBC: call nesting too deep in 'call' byte code", 0},
    {"stall_budget", {Ins(TAMSIL_CDBC_OP_STALL, 0, kImm, 0, 0xFFFF), Jump(0, 0xFFFF)}, 0, 0, 0, kL,
     "CDBC: stall time limit reached in 'stall' byte code", 0},
    {"stall_huge", {MoveImm(2, 0xFFFF), Ins(TAMSIL_CDBC_OP_STALL, 0, kReg, 0, 2)}, 0, 0, 0, kL,
     "CDBC: stall time limit reached in 'stall' byte code", 0},
};

class CdbcEscape : public CdbcCore, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(CdbcEscape, EndsWithAnErrorStatus) {
  const EscapeCase& c = GetParam();
  Image img(64);
  img.w[1] = 0x01020304;
  img.w[40] = 0xFFFF0000;  // a variable holding a far address
  for (uint32_t insn : c.prog) img.Op(insn);
  img.Op(MoveImm(kMarker, 1));  // must not run
  img.Op(kEnd);
  if (c.pc != 0) img.w[TAMSIL_CDBC_W_PC] = c.pc;
  std::vector<uint32_t> progBefore(img.w.begin() + 16, img.w.end());
  EXPECT_EQ(Exec(img, bus, out, {.outBase = 0x1000, .family = c.family, .r9 = c.r9}), c.want);
  EXPECT_EQ(img.w[kMarker], 0u) << "the run went on after the fault";
  EXPECT_TRUE(img.GuardsIntact());
  EXPECT_TRUE(out.GuardsIntact());
  for (const Access& a : bus.log) {
    if (a.kind == 'r' || a.kind == 'w') {
      EXPECT_LE(a.offset + a.width, bus.bar[a.bar].size()) << a.kind << " " << a.offset;
    }
  }
  // r9 - base is what the caller reports as written: always inside the area.
  EXPECT_EQ(img.w[9] - 0x1000, c.dumped);
  EXPECT_LE(bus.delayedUs, TAMSIL_CDBC_MAX_STALL_US);
  EXPECT_TRUE(LogHas(c.message)) << LogText();
  // Program words are data the program may change only through move-out.
  std::vector<uint32_t> progAfter(img.w.begin() + 16, img.w.end());
  EXPECT_EQ(progAfter, progBefore);
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcEscape, ::testing::ValuesIn(kEscapes),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcCore, UnmappedSpaceIsOutOfBounds) {
  bus.bar[TAMSIL_CDBC_SPACE_CSR].clear();
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0), MoveImm(kMarker, 1), kEnd});
  EXPECT_EQ(Exec(img, bus, out), TAMSIL_CDBC_ERR_BOUNDS);
  EXPECT_EQ(bus.log.size(), 0u);
  EXPECT_EQ(img.w[kMarker], 0u);
}

// The step budget counts executed instructions (the final word 30 is free).
TEST_F(CdbcCore, StepLimitIsExact) {
  static_assert((TAMSIL_CDBC_MAX_STEPS - 1) % 3 == 0, "loop below must land on the limit");
  for (uint32_t extra : {0u, 1u}) {
    Image img;
    img.w[40] = (TAMSIL_CDBC_MAX_STEPS - 1) / 3 + extra;
    img.Ops({Ins(TAMSIL_CDBC_OP_MOVE, 2, kVar, 0, 40),  // 1 step, then 3 per turn
             Ins(TAMSIL_CDBC_OP_SUB, 2, kImm, 0, 1), Ins(TAMSIL_CDBC_OP_COMPARE, 2, kImm, 0, 0), Jump(6, 0xFFFE),
             kEnd});
    img.w[0] = 0x66;
    EXPECT_EQ(Exec(img, bus, out), extra ? TAMSIL_CDBC_ERR_LIMIT : 0x66u) << extra;
  }
}

TEST_F(CdbcCore, StepLimitAllowsLongHonestPrograms) {
  // 64 KiB of output in 4-byte dumps: a loop of three instructions each.
  Output big(65536);
  Image img;
  img.Ops({Dump(1, 2), Ins(TAMSIL_CDBC_OP_COMPARE, 9, kVar, 0, 40), Jump(4, 0xFFFE), MoveImm(0, 1), kEnd});
  img.w[40] = 0x1000 + 65536;
  EXPECT_EQ(Exec(img, bus, big), 1u);
  EXPECT_EQ(img.w[9], 0x1000u + 65536);
  EXPECT_TRUE(big.GuardsIntact());
}

}  // namespace
}  // namespace cdbctest
