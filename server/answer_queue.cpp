#include "server/answer_queue.h"

std::string& TAnswerQueue::Text() {
  if (_pieces.empty() || _pieces.back().shared) _pieces.emplace_back();
  return _pieces.back().text;
}

void TAnswerQueue::Append(const std::shared_ptr<const std::string>& body) {
  if (body->size() <= SHARED_BODY_MIN_BYTES) {
    Text() += *body;
    return;
  }
  _pieces.emplace_back();
  _pieces.back().shared = body;
}

size_t TAnswerQueue::Size() const {
  size_t size = 0;
  for (const TPiece& piece : _pieces) size += piece.Bytes().size();
  return size - _sentOfFirst;
}

int TAnswerQueue::Gather(iovec* pieces, int max) const {
  int count = 0;
  size_t skip = _sentOfFirst;
  for (const TPiece& piece : _pieces) {
    if (count == max) break;
    const std::string& bytes = piece.Bytes();
    if (bytes.size() == skip) {  // an empty text piece
      skip = 0;
      continue;
    }
    pieces[count].iov_base = const_cast<char*>(bytes.data() + skip);
    pieces[count].iov_len = bytes.size() - skip;
    ++count;
    skip = 0;
  }
  return count;
}

void TAnswerQueue::Consume(size_t bytes) {
  size_t done = 0;  // pieces sent completely
  bytes += _sentOfFirst;
  while (done < _pieces.size() && bytes >= _pieces[done].Bytes().size()) {
    bytes -= _pieces[done].Bytes().size();
    ++done;
  }
  _sentOfFirst = bytes;
  if (done == _pieces.size() && !_pieces.empty() && !_pieces.front().shared) {
    // All sent: keep the first text piece's buffer for the next answers.
    _pieces.front().text.clear();
    _pieces.resize(1);
    return;
  }
  _pieces.erase(_pieces.begin(), _pieces.begin() + static_cast<std::ptrdiff_t>(done));
}
