#include "mouse/VkMatrix.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <string>

namespace pavrel {

namespace {

// Elements are streamed in blocks of this many, so that a stream announcing a large shape
// but ending early never makes us allocate the whole announced block.
constexpr std::int64_t BlockElements = 4096;

void ReadBytes(std::istream& Stream, unsigned char* Buffer, std::size_t Count) {
  Stream.read(reinterpret_cast<char*>(Buffer), static_cast<std::streamsize>(Count));
  if (static_cast<std::size_t>(Stream.gcount()) != Count) {
    throw EVkMatrix("Unexpected end of stream");
  }
}

std::int32_t ReadInt32(std::istream& Stream) {
  std::array<unsigned char, 4> bytes{};
  ReadBytes(Stream, bytes.data(), bytes.size());
  const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                              (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
  return static_cast<std::int32_t>(value);
}

void WriteInt32(std::ostream& Stream, std::int32_t Value) {
  const auto bits = static_cast<std::uint32_t>(Value);
  const std::array<char, 4> bytes{static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8),
                                  static_cast<char>(bits >> 16), static_cast<char>(bits >> 24)};
  Stream.write(bytes.data(), bytes.size());
}

std::vector<double> ReadDoubles(std::istream& Stream, std::int64_t Count) {
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(std::min(Count, BlockElements)));
  std::vector<unsigned char> block;
  for (std::int64_t done = 0; done < Count;) {
    const std::int64_t n = std::min(Count - done, BlockElements);
    block.resize(static_cast<std::size_t>(n) * 8);
    ReadBytes(Stream, block.data(), block.size());
    for (std::int64_t i = 0; i < n; ++i) {
      std::uint64_t bits = 0;
      for (int b = 7; b >= 0; --b) {
        bits = (bits << 8) | block[static_cast<std::size_t>(i * 8 + b)];
      }
      values.push_back(std::bit_cast<double>(bits));
    }
    done += n;
  }
  return values;
}

void WriteDoubles(std::ostream& Stream, const std::vector<double>& Values) {
  std::vector<char> block;
  for (std::size_t done = 0; done < Values.size();) {
    const std::size_t n = std::min(Values.size() - done, static_cast<std::size_t>(BlockElements));
    block.resize(n * 8);
    for (std::size_t i = 0; i < n; ++i) {
      const auto bits = std::bit_cast<std::uint64_t>(Values[done + i]);
      for (std::size_t b = 0; b < 8; ++b) {
        block[i * 8 + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
      }
    }
    Stream.write(block.data(), static_cast<std::streamsize>(block.size()));
    done += n;
  }
}

std::size_t CheckedCount(std::int64_t Rows, std::int64_t Cols) {
  if (Rows < 0 || Cols < 0) {
    throw EVkMatrix("Invalid matrix size " + std::to_string(Rows) + " x " + std::to_string(Cols));
  }
  return static_cast<std::size_t>(Rows * Cols);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TVkMatrix

TVkMatrix::TVkMatrix(std::int32_t Rows, std::int32_t Cols)
    : FCols(Cols), FData(CheckedCount(Rows, Cols), 0.0), FRows(Rows) {}

TVkMatrix::TVkMatrix(std::int32_t Rows, std::int32_t Cols, std::vector<double>&& Data)
    : FCols(Cols), FData(std::move(Data)), FRows(Rows) {}

TVkMatrix::TShape TVkMatrix::ReadShape(std::istream& Stream) {
  const std::int32_t rows = ReadInt32(Stream);
  const std::int32_t cols = ReadInt32(Stream);
  if (rows < 0 || cols < 0 || std::int64_t{rows} * cols > MaxStreamElements) {
    throw EVkMatrix("Invalid dimension in stream");
  }
  return {rows, cols};
}

std::unique_ptr<TVkMatrix> TVkMatrix::CreateFromStream(std::istream& Stream) {
  const TShape shape = ReadShape(Stream);
  std::vector<double> data = ReadDoubles(Stream, std::int64_t{shape.Rows} * shape.Cols);
  return std::unique_ptr<TVkMatrix>(new TVkMatrix(shape.Rows, shape.Cols, std::move(data)));
}

void TVkMatrix::ReadElements(std::istream& Stream) {
  std::vector<double> data = ReadDoubles(Stream, static_cast<std::int64_t>(FData.size()));
  FData = std::move(data);
}

void TVkMatrix::SaveToStream(std::ostream& Stream) const {
  WriteInt32(Stream, FRows);
  WriteInt32(Stream, FCols);
  WriteDoubles(Stream, FData);
}

void TVkMatrix::CheckBounds(std::int32_t Row, std::int32_t Col) const {
  if (Row < 1 || Row > FRows) {
    throw EVkMatrix("Row " + std::to_string(Row) + " out of bounds");
  }
  if (Col < 1 || Col > FCols) {
    throw EVkMatrix("Column " + std::to_string(Col) + " out of bounds");
  }
}

double TVkMatrix::GetElement(std::int32_t Row, std::int32_t Col) const {
  CheckBounds(Row, Col);
  return FData[static_cast<std::size_t>(Row - 1) * FCols + (Col - 1)];
}

void TVkMatrix::SetElement(std::int32_t Row, std::int32_t Col, double Value) {
  CheckBounds(Row, Col);
  FData[static_cast<std::size_t>(Row - 1) * FCols + (Col - 1)] = Value;
  Changed();
}

std::unique_ptr<TVkMatrixBase> TVkMatrix::Multiply(const TVkMatrixBase& Operand) const {
  if (Operand.GetRowCount() != FCols) {
    throw EVkMatrix("Incompatible matrix sizes");
  }
  if (const auto* matrix = dynamic_cast<const TVkMatrix*>(&Operand)) {
    return MultiplyMatrix(*matrix);
  }
  if (const auto* vector = dynamic_cast<const TVkVector*>(&Operand)) {
    return MultiplyVector(*vector);
  }
  return nullptr;
}

std::unique_ptr<TVkMatrix> TVkMatrix::MultiplyMatrix(const TVkMatrix& Other) const {
  // Checked here as well: this operation is public and reads the operands' blocks directly.
  if (Other.FRows != FCols) {
    throw EVkMatrix("Incompatible matrix sizes");
  }
  std::unique_ptr<TVkMatrix> result;
  if (FRows == Other.FCols) {
    result = std::make_unique<TVkMatrixSquare>(FRows);
  } else {
    result = std::make_unique<TVkMatrix>(FRows, Other.FCols);
  }
  const std::size_t n = static_cast<std::size_t>(FCols);
  const std::size_t m = static_cast<std::size_t>(Other.FCols);
  for (std::size_t i = 0; i < static_cast<std::size_t>(FRows); ++i) {
    for (std::size_t j = 0; j < m; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < n; ++k) {
        sum += FData[i * n + k] * Other.FData[k * m + j];
      }
      result->FData[i * m + j] = sum;
    }
  }
  return result;
}

std::unique_ptr<TVkVector> TVkMatrix::MultiplyVector(const TVkVector& V) const {
  if (V.FSize != FCols) {
    throw EVkMatrix("Incompatible matrix sizes");
  }
  auto result = std::make_unique<TVkVector>(FRows);
  const std::size_t n = static_cast<std::size_t>(FCols);
  for (std::size_t i = 0; i < static_cast<std::size_t>(FRows); ++i) {
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      sum += FData[i * n + k] * V.FData[k];
    }
    result->FData[i] = sum;
  }
  return result;
}

std::unique_ptr<TVkMatrix> TVkMatrix::Add(const TVkMatrix& Other) const {
  if (Other.FRows != FRows || Other.FCols != FCols) {
    throw EVkMatrix("Cannot add matrices of different sizes");
  }
  std::unique_ptr<TVkMatrix> result;
  if (dynamic_cast<const TVkMatrixSquare*>(this) != nullptr) {
    result = std::make_unique<TVkMatrixSquare>(FRows);
  } else {
    result = std::make_unique<TVkMatrix>(FRows, FCols);
  }
  for (std::size_t p = 0; p < FData.size(); ++p) {
    result->FData[p] = FData[p] + Other.FData[p];
  }
  return result;
}

std::unique_ptr<TVkMatrix> TVkMatrix::Transpose() const {
  std::unique_ptr<TVkMatrix> result;
  if (FRows == FCols) {
    result = std::make_unique<TVkMatrixSquare>(FRows);
  } else {
    result = std::make_unique<TVkMatrix>(FCols, FRows);
  }
  const std::size_t rows = static_cast<std::size_t>(FRows);
  const std::size_t cols = static_cast<std::size_t>(FCols);
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < cols; ++j) {
      result->FData[j * rows + i] = FData[i * cols + j];
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// TVkMatrixSquare

TVkMatrixSquare::TVkMatrixSquare(std::int32_t N) : TVkMatrix(N, N) {}

TVkMatrixSquare::TVkMatrixSquare(std::int32_t N, std::vector<double>&& Data)
    : TVkMatrix(N, N, std::move(Data)) {}

std::unique_ptr<TVkMatrixSquare> TVkMatrixSquare::CreateFromStream(std::istream& Stream) {
  const TShape shape = ReadShape(Stream);
  // A non-square TVkMatrixSquare would make Add write past its result.
  if (shape.Rows != shape.Cols) {
    throw EVkMatrix("Invalid dimension in stream");
  }
  std::vector<double> data = ReadDoubles(Stream, std::int64_t{shape.Rows} * shape.Cols);
  return std::unique_ptr<TVkMatrixSquare>(new TVkMatrixSquare(shape.Rows, std::move(data)));
}

// ---------------------------------------------------------------------------------------
// TVkVector

TVkVector::TVkVector(std::int32_t Size) : FSize(Size), FData(CheckedCount(Size, 1), 0.0) {}

TVkVector::TVkVector(std::int32_t Size, std::vector<double>&& Data)
    : FSize(Size), FData(std::move(Data)) {}

std::unique_ptr<TVkVector> TVkVector::CreateFromStream(std::istream& Stream) {
  const std::int32_t size = ReadInt32(Stream);
  const std::int32_t cols = ReadInt32(Stream);
  if (cols != 1 || size < 0 || size > MaxStreamElements) {
    throw EVkMatrix("Invalid dimension in stream");
  }
  std::vector<double> data = ReadDoubles(Stream, size);
  return std::unique_ptr<TVkVector>(new TVkVector(size, std::move(data)));
}

void TVkVector::ReadElements(std::istream& Stream) {
  std::vector<double> data = ReadDoubles(Stream, FSize);
  FData = std::move(data);
}

void TVkVector::SaveToStream(std::ostream& Stream) const {
  WriteInt32(Stream, FSize);
  WriteInt32(Stream, 1);
  WriteDoubles(Stream, FData);
}

double TVkVector::GetElement(std::int32_t Index) const {
  if (Index < 1 || Index > FSize) {
    throw EVkMatrix("Row " + std::to_string(Index) + " out of bounds");
  }
  return FData[static_cast<std::size_t>(Index - 1)];
}

void TVkVector::SetElement(std::int32_t Index, double Value) {
  if (Index < 1 || Index > FSize) {
    throw EVkMatrix("Row " + std::to_string(Index) + " out of bounds");
  }
  FData[static_cast<std::size_t>(Index - 1)] = Value;
}

}  // namespace pavrel
