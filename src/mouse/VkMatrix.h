#pragma once

// A small dense matrix library: double-precision matrices and column vectors with one-based,
// bounds-checked element access, sums, transposes, products and a binary stream format
// (rows and columns as 32-bit little-endian integers, then the elements as little-endian
// IEEE doubles, row by row). Every operation that yields a matrix returns a new object owned
// by the caller; operands are never changed.

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace pavrel {

class EVkMatrix : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TVkMatrix;
class TVkVector;

// The operand type of products.
class TVkMatrixBase {
 public:
  // Largest element count a stream may announce (16 Mi elements, 128 MiB of data).
  static constexpr std::int64_t MaxStreamElements = std::int64_t{16} * 1024 * 1024;

  TVkMatrixBase() = default;
  TVkMatrixBase(const TVkMatrixBase&) = delete;
  TVkMatrixBase& operator=(const TVkMatrixBase&) = delete;
  virtual ~TVkMatrixBase() = default;

  virtual std::int32_t GetRowCount() const = 0;
  virtual std::int32_t GetColCount() const = 0;
  // Reads the element values only, into the existing shape. A stream that ends early raises
  // EVkMatrix and leaves the elements as they were.
  virtual void ReadElements(std::istream& Stream) = 0;
  // Writes the shape and the elements; failures show in the stream's state.
  virtual void SaveToStream(std::ostream& Stream) const = 0;
};

// A Rows x Cols matrix, elements stored row by row.
class TVkMatrix : public TVkMatrixBase {
 public:
  // Zeroed elements. A negative size raises EVkMatrix.
  TVkMatrix(std::int32_t Rows, std::int32_t Cols);

  // Builds a matrix from the stream format. A negative count, more than MaxStreamElements
  // elements ("Invalid dimension in stream") or a short stream ("Unexpected end of stream")
  // raise EVkMatrix.
  static std::unique_ptr<TVkMatrix> CreateFromStream(std::istream& Stream);

  std::int32_t GetRowCount() const override { return FRows; }
  std::int32_t GetColCount() const override { return FCols; }
  void ReadElements(std::istream& Stream) override;
  void SaveToStream(std::ostream& Stream) const override;

  double GetElement(std::int32_t Row, std::int32_t Col) const;
  // Stores the value, then calls Changed.
  void SetElement(std::int32_t Row, std::int32_t Col, double Value);

  // This x Operand. Null when Operand is neither a matrix nor a vector.
  std::unique_ptr<TVkMatrixBase> Multiply(const TVkMatrixBase& Operand) const;
  // A TVkMatrixSquare when this matrix is one (by class), else a TVkMatrix.
  std::unique_ptr<TVkMatrix> Add(const TVkMatrix& Other) const;
  // A TVkMatrixSquare when the shape is square, else a TVkMatrix.
  std::unique_ptr<TVkMatrix> Transpose() const;

  // Called after every element write through SetElement.
  virtual void Changed() {}
  // A TVkMatrixSquare when the result is square, else a TVkMatrix.
  virtual std::unique_ptr<TVkMatrix> MultiplyMatrix(const TVkMatrix& Other) const;
  virtual std::unique_ptr<TVkVector> MultiplyVector(const TVkVector& V) const;

 protected:
  struct TShape {
    std::int32_t Rows;
    std::int32_t Cols;
  };
  static TShape ReadShape(std::istream& Stream);
  // Takes over elements already read for the given shape.
  TVkMatrix(std::int32_t Rows, std::int32_t Cols, std::vector<double>&& Data);

 private:
  void CheckBounds(std::int32_t Row, std::int32_t Col) const;

  std::int32_t FCols;
  std::vector<double> FData;
  std::int32_t FRows;
};

// An N x N matrix with a cache slot that any element write empties.
class TVkMatrixSquare : public TVkMatrix {
 public:
  explicit TVkMatrixSquare(std::int32_t N);

  // As TVkMatrix::CreateFromStream; a shape that is not square raises "Invalid dimension in
  // stream", so a TVkMatrixSquare is always square.
  static std::unique_ptr<TVkMatrixSquare> CreateFromStream(std::istream& Stream);

  void Changed() override { FCache.reset(); }

 protected:
  // Derived data of the current elements, for subclasses; emptied by Changed.
  std::unique_ptr<TVkMatrixBase> FCache;

 private:
  TVkMatrixSquare(std::int32_t N, std::vector<double>&& Data);
};

// A column vector of Size elements.
class TVkVector : public TVkMatrixBase {
 public:
  // Zeroed elements. A negative size raises EVkMatrix.
  explicit TVkVector(std::int32_t Size);

  // A stored column count other than 1, a negative or oversized size ("Invalid dimension in
  // stream") or a short stream ("Unexpected end of stream") raise EVkMatrix.
  static std::unique_ptr<TVkVector> CreateFromStream(std::istream& Stream);

  std::int32_t GetRowCount() const override { return FSize; }
  std::int32_t GetColCount() const override { return 1; }
  void ReadElements(std::istream& Stream) override;
  void SaveToStream(std::ostream& Stream) const override;

  // One-based; an index outside 1..Size raises "Row %d out of bounds".
  double GetElement(std::int32_t Index) const;
  void SetElement(std::int32_t Index, double Value);

 private:
  friend class TVkMatrix;
  TVkVector(std::int32_t Size, std::vector<double>&& Data);

  std::int32_t FSize;
  std::vector<double> FData;
};

}  // namespace pavrel
