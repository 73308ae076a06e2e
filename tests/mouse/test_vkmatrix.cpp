#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "mouse/VkMatrix.h"

namespace pavrel {
namespace {

using ::testing::ElementsAre;

// Runs Body and answers the EVkMatrix message it raised ("" when none).
template <typename F>
std::string MessageOf(F&& Body) {
  try {
    Body();
  } catch (const EVkMatrix& e) {
    return e.what();
  }
  return "";
}

std::unique_ptr<TVkMatrix> MakeMatrix(std::int32_t Rows, std::int32_t Cols,
                                      std::initializer_list<double> Values) {
  auto m = std::make_unique<TVkMatrix>(Rows, Cols);
  auto it = Values.begin();
  for (std::int32_t i = 1; i <= Rows; ++i) {
    for (std::int32_t j = 1; j <= Cols; ++j) {
      m->SetElement(i, j, *it++);
    }
  }
  return m;
}

std::vector<double> ElementsOf(const TVkMatrix& M) {
  std::vector<double> values;
  for (std::int32_t i = 1; i <= M.GetRowCount(); ++i) {
    for (std::int32_t j = 1; j <= M.GetColCount(); ++j) {
      values.push_back(M.GetElement(i, j));
    }
  }
  return values;
}

bool IsSquareClass(const TVkMatrixBase& M) {
  return dynamic_cast<const TVkMatrixSquare*>(&M) != nullptr;
}

std::string Bytes(std::initializer_list<int> Values) {
  std::string s;
  for (int v : Values) {
    s.push_back(static_cast<char>(v));
  }
  return s;
}

std::string Int32Bytes(std::int32_t V) {
  const auto u = static_cast<std::uint32_t>(V);
  return Bytes({static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
                static_cast<int>((u >> 16) & 0xFF), static_cast<int>(u >> 24)});
}

TEST(VkMatrixElements, NewMatricesAndVectorsAreZeroed) {
  EXPECT_THAT(ElementsOf(TVkMatrix(2, 3)), ElementsAre(0, 0, 0, 0, 0, 0));
  const TVkVector v(3);
  EXPECT_EQ(v.GetRowCount(), 3);
  EXPECT_EQ(v.GetColCount(), 1);
  EXPECT_EQ(v.GetElement(3), 0.0);
}

TEST(VkMatrixElements, BoundsCheckReportsTheRowBeforeTheColumn) {
  auto m = MakeMatrix(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(MessageOf([&] { m->GetElement(0, 1); }), "Row 0 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->GetElement(3, 1); }), "Row 3 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->GetElement(3, 5); }), "Row 3 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->GetElement(-7, 0); }), "Row -7 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->GetElement(1, 0); }), "Column 0 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->SetElement(1, 3, 9.0); }), "Column 3 out of bounds");
  EXPECT_EQ(MessageOf([&] { m->SetElement(2, 2, 9.0); }), "");
  EXPECT_THAT(ElementsOf(*m), ElementsAre(1, 2, 3, 9));

  TVkVector v(2);
  EXPECT_EQ(MessageOf([&] { v.GetElement(0); }), "Row 0 out of bounds");
  EXPECT_EQ(MessageOf([&] { v.SetElement(3, 1.0); }), "Row 3 out of bounds");
}

TEST(VkMatrixElements, NegativeSizesAreRefused) {
  EXPECT_THROW(TVkMatrix(-1, 2), EVkMatrix);
  EXPECT_THROW(TVkMatrix(2, -1), EVkMatrix);
  EXPECT_THROW(TVkMatrixSquare(-3), EVkMatrix);
  EXPECT_THROW(TVkVector(-1), EVkMatrix);
}

// A square matrix whose cache holds something, to see element writes empty it.
class TCachingSquare : public TVkMatrixSquare {
 public:
  using TVkMatrixSquare::TVkMatrixSquare;
  void Fill() { FCache = std::make_unique<TVkVector>(1); }
  bool Cached() const { return FCache != nullptr; }
};

TEST(VkMatrixElements, ElementWritesEmptyTheSquareMatrixCache) {
  TCachingSquare m(2);
  m.Fill();
  m.GetElement(1, 1);
  EXPECT_TRUE(m.Cached());
  m.SetElement(1, 2, 5.0);
  EXPECT_FALSE(m.Cached());
  m.Fill();
  EXPECT_THROW(m.SetElement(3, 1, 5.0), EVkMatrix);
  EXPECT_TRUE(m.Cached()) << "a refused write changes nothing";
}

TEST(VkMatrixProducts, ResultClassFollowsTheShape) {
  auto row = MakeMatrix(1, 2, {1, 2});
  auto column = MakeMatrix(2, 1, {3, 4});
  auto square = MakeMatrix(2, 2, {1, 2, 3, 4});

  auto dot = row->Multiply(*column);  // 1x2 * 2x1
  ASSERT_TRUE(IsSquareClass(*dot));
  EXPECT_THAT(ElementsOf(dynamic_cast<TVkMatrix&>(*dot)), ElementsAre(11));

  auto tall = square->Multiply(*column);  // 2x2 * 2x1
  ASSERT_NE(dynamic_cast<TVkMatrix*>(tall.get()), nullptr);
  EXPECT_FALSE(IsSquareClass(*tall));
  EXPECT_THAT(ElementsOf(dynamic_cast<TVkMatrix&>(*tall)), ElementsAre(11, 25));

  auto outer = column->Multiply(*row);  // 2x1 * 1x2
  ASSERT_TRUE(IsSquareClass(*outer));
  EXPECT_THAT(ElementsOf(dynamic_cast<TVkMatrix&>(*outer)), ElementsAre(3, 6, 4, 8));

  auto wide = row->Multiply(*square);  // 1x2 * 2x2
  EXPECT_FALSE(IsSquareClass(*wide));
  EXPECT_THAT(ElementsOf(dynamic_cast<TVkMatrix&>(*wide)), ElementsAre(7, 10));

  EXPECT_THAT(ElementsOf(*row), ElementsAre(1, 2)) << "operands stay as they were";
}

TEST(VkMatrixProducts, NonSquareProductsAreComputedRowByColumn) {
  auto a = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
  auto b = MakeMatrix(3, 4, {1, 0, 2, -1, 0, 1, 1, 2, 3, -2, 0, 1});
  auto p = a->MultiplyMatrix(*b);
  EXPECT_EQ(p->GetRowCount(), 2);
  EXPECT_EQ(p->GetColCount(), 4);
  EXPECT_THAT(ElementsOf(*p), ElementsAre(10, -4, 4, 6, 22, -7, 13, 12));
}

TEST(VkMatrixProducts, MatrixTimesVectorGivesAVector) {
  auto a = MakeMatrix(3, 2, {1, 2, 3, 4, 5, 6});
  TVkVector v(2);
  v.SetElement(1, 10);
  v.SetElement(2, -1);
  auto r = a->Multiply(v);
  auto* vector = dynamic_cast<TVkVector*>(r.get());
  ASSERT_NE(vector, nullptr);
  ASSERT_EQ(vector->GetRowCount(), 3);
  EXPECT_EQ(vector->GetElement(1), 8);
  EXPECT_EQ(vector->GetElement(2), 26);
  EXPECT_EQ(vector->GetElement(3), 44);
}

// An operand of the base type that is neither a matrix nor a vector.
class TOtherOperand : public TVkMatrixBase {
 public:
  std::int32_t GetRowCount() const override { return 2; }
  std::int32_t GetColCount() const override { return 2; }
  void ReadElements(std::istream&) override {}
  void SaveToStream(std::ostream&) const override {}
};

TEST(VkMatrixProducts, SizeMismatchesAreRefused) {
  auto row = MakeMatrix(1, 2, {1, 2});
  EXPECT_EQ(MessageOf([&] { row->Multiply(*row); }), "Incompatible matrix sizes");
  EXPECT_EQ(MessageOf([&] { row->MultiplyMatrix(*row); }), "Incompatible matrix sizes");
  const TVkVector three(3);
  EXPECT_EQ(MessageOf([&] { row->Multiply(three); }), "Incompatible matrix sizes");
  EXPECT_EQ(MessageOf([&] { row->MultiplyVector(three); }), "Incompatible matrix sizes");
  EXPECT_EQ(row->Multiply(TOtherOperand()), nullptr);
}

TEST(VkMatrixSums, ResultClassFollowsTheLeftOperandsClass) {
  auto plain = MakeMatrix(2, 2, {1, 2, 3, 4});
  TVkMatrixSquare square(2);
  square.SetElement(1, 1, 10);
  square.SetElement(2, 1, -3);

  auto plainSum = plain->Add(square);
  EXPECT_FALSE(IsSquareClass(*plainSum));
  EXPECT_THAT(ElementsOf(*plainSum), ElementsAre(11, 2, 0, 4));

  auto squareSum = square.Add(*plain);
  EXPECT_TRUE(IsSquareClass(*squareSum));
  EXPECT_THAT(ElementsOf(*squareSum), ElementsAre(11, 2, 0, 4));

  auto row = MakeMatrix(1, 2, {1, 2});
  auto column = MakeMatrix(2, 1, {1, 2});
  EXPECT_EQ(MessageOf([&] { row->Add(*column); }), "Cannot add matrices of different sizes");
  EXPECT_EQ(MessageOf([&] { plain->Add(*row); }), "Cannot add matrices of different sizes");
}

TEST(VkMatrixTransposes, ShapeAndClass) {
  auto row = MakeMatrix(1, 2, {1, 2});
  auto column = row->Transpose();
  EXPECT_FALSE(IsSquareClass(*column));
  EXPECT_EQ(column->GetRowCount(), 2);
  EXPECT_EQ(column->GetColCount(), 1);
  EXPECT_THAT(ElementsOf(*column), ElementsAre(1, 2));

  auto wide = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_THAT(ElementsOf(*wide->Transpose()), ElementsAre(1, 4, 2, 5, 3, 6));

  auto square = MakeMatrix(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  auto t = square->Transpose();
  EXPECT_TRUE(IsSquareClass(*t));
  EXPECT_THAT(ElementsOf(*t), ElementsAre(1, 4, 7, 2, 5, 8, 3, 6, 9));
}

TEST(VkMatrixStreams, MatrixLayoutIsLittleEndianRowByRow) {
  auto m = MakeMatrix(1, 2, {1.0, -2.0});
  std::ostringstream out;
  m->SaveToStream(out);
  const std::string expected = Int32Bytes(1) + Int32Bytes(2) +
                               Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}) +
                               Bytes({0, 0, 0, 0, 0, 0, 0x00, 0xC0});
  EXPECT_EQ(out.str(), expected);

  TVkVector v(1);
  v.SetElement(1, 1.0);
  std::ostringstream vout;
  v.SaveToStream(vout);
  EXPECT_EQ(vout.str(), Int32Bytes(1) + Int32Bytes(1) + Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

TEST(VkMatrixStreams, RoundTripsKeepShapeClassAndEveryBit) {
  const double nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000012345});
  auto m = MakeMatrix(2, 3,
                      {-0.0, std::numeric_limits<double>::infinity(), nan,
                       std::numeric_limits<double>::denorm_min(), 1e300, 0.1});
  std::stringstream stream;
  m->SaveToStream(stream);
  auto back = TVkMatrix::CreateFromStream(stream);
  ASSERT_EQ(back->GetRowCount(), 2);
  ASSERT_EQ(back->GetColCount(), 3);
  for (std::int32_t i = 1; i <= 2; ++i) {
    for (std::int32_t j = 1; j <= 3; ++j) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(back->GetElement(i, j)),
                std::bit_cast<std::uint64_t>(m->GetElement(i, j)));
    }
  }

  TVkMatrixSquare square(2);
  square.SetElement(2, 1, 7.5);
  std::stringstream squareStream;
  square.SaveToStream(squareStream);
  auto squareBack = TVkMatrixSquare::CreateFromStream(squareStream);
  EXPECT_THAT(ElementsOf(*squareBack), ElementsAre(0, 0, 7.5, 0));

  TVkVector v(3);
  v.SetElement(1, 1.5);
  v.SetElement(3, -4.25);
  std::stringstream vectorStream;
  v.SaveToStream(vectorStream);
  auto vectorBack = TVkVector::CreateFromStream(vectorStream);
  ASSERT_EQ(vectorBack->GetRowCount(), 3);
  EXPECT_EQ(vectorBack->GetElement(1), 1.5);
  EXPECT_EQ(vectorBack->GetElement(2), 0.0);
  EXPECT_EQ(vectorBack->GetElement(3), -4.25);

  // A vector stream is a valid 3 x 1 matrix stream.
  std::stringstream again;
  v.SaveToStream(again);
  EXPECT_EQ(TVkMatrix::CreateFromStream(again)->GetColCount(), 1);
}

TEST(VkMatrixStreams, ReadElementsFillsTheExistingShapeOnly) {
  auto source = MakeMatrix(1, 2, {5, 6});
  std::stringstream stream;
  source->SaveToStream(stream);
  stream.ignore(8);  // skip the shape
  TVkMatrix target(1, 2);
  target.ReadElements(stream);
  EXPECT_THAT(ElementsOf(target), ElementsAre(5, 6));

  std::stringstream vectorData(Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}) + "tail");
  TVkVector v(1);
  v.ReadElements(vectorData);
  EXPECT_EQ(v.GetElement(1), 1.0);
  EXPECT_EQ(vectorData.get(), 't') << "no byte past the elements is consumed";
}

TEST(VkMatrixStreams, BadShapesAreRefused) {
  auto read = [](const std::string& Data) {
    return MessageOf([&] {
      std::istringstream s(Data);
      TVkMatrix::CreateFromStream(s);
    });
  };
  EXPECT_EQ(read(Int32Bytes(-1) + Int32Bytes(2)), "Invalid dimension in stream");
  EXPECT_EQ(read(Int32Bytes(2) + Int32Bytes(-1)), "Invalid dimension in stream");
  EXPECT_EQ(read(Int32Bytes(4097) + Int32Bytes(4096)), "Invalid dimension in stream");
  EXPECT_EQ(read(Int32Bytes(65536) + Int32Bytes(65536)), "Invalid dimension in stream")
      << "the element count must not overflow 32 bits";
  // Exactly 16 Mi elements is a valid shape; the stream then ends early.
  EXPECT_EQ(read(Int32Bytes(4096) + Int32Bytes(4096)), "Unexpected end of stream");
  EXPECT_EQ(read(Int32Bytes(0) + Int32Bytes(5)), "");

  auto readSquare = [](const std::string& Data) {
    return MessageOf([&] {
      std::istringstream s(Data);
      TVkMatrixSquare::CreateFromStream(s);
    });
  };
  EXPECT_EQ(readSquare(Int32Bytes(1) + Int32Bytes(2) + std::string(16, '\0')),
            "Invalid dimension in stream");

  auto readVector = [](const std::string& Data) {
    return MessageOf([&] {
      std::istringstream s(Data);
      TVkVector::CreateFromStream(s);
    });
  };
  auto twoColumns = MakeMatrix(1, 2, {1, 2});
  std::ostringstream out;
  twoColumns->SaveToStream(out);
  EXPECT_EQ(readVector(out.str()), "Invalid dimension in stream");
  EXPECT_EQ(readVector(Int32Bytes(-2) + Int32Bytes(1)), "Invalid dimension in stream");
  EXPECT_EQ(readVector(Int32Bytes(16 * 1024 * 1024 + 1) + Int32Bytes(1)),
            "Invalid dimension in stream");
}

TEST(VkMatrixStreams, ShortStreamsAreRefusedAndChangeNothing) {
  auto m = MakeMatrix(2, 2, {1, 2, 3, 4});
  std::ostringstream out;
  m->SaveToStream(out);
  const std::string full = out.str();
  for (std::size_t cut : {0UL, 3UL, 7UL, 8UL, 15UL, full.size() - 1}) {
    std::istringstream s(full.substr(0, cut));
    EXPECT_EQ(MessageOf([&] { TVkMatrix::CreateFromStream(s); }), "Unexpected end of stream")
        << "cut at " << cut;
  }

  TVkVector v(1);
  v.SetElement(1, 42.0);
  std::istringstream shortVector(Int32Bytes(2) + Int32Bytes(1) + std::string(9, '\0'));
  EXPECT_EQ(MessageOf([&] { TVkVector::CreateFromStream(shortVector); }),
            "Unexpected end of stream");

  std::istringstream shortElements(std::string(12, '\x11'));
  EXPECT_EQ(MessageOf([&] { m->ReadElements(shortElements); }), "Unexpected end of stream");
  EXPECT_THAT(ElementsOf(*m), ElementsAre(1, 2, 3, 4));
  std::istringstream shortVectorElements(std::string(7, '\x11'));
  EXPECT_EQ(MessageOf([&] { v.ReadElements(shortVectorElements); }), "Unexpected end of stream");
  EXPECT_EQ(v.GetElement(1), 42.0);
}

}  // namespace
}  // namespace pavrel
