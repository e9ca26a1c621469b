function differences = diff(a, b)
%DREL.DIFF  What differs from one protocol file to another.
%   D = DREL.DIFF(A, B) compares the protocol files A and B with drel diff:
%   a struct array with a field path (as the text form names the field:
%   'intensity', 'signals[2].frequency') and the values a and b, floats
%   compared bit for bit; empty (0x0) when the two hold the same protocol.
%   A waveform's levels give its lengths (a_length, b_length) and, where
%   they are equal, how many levels differ, the first and last sample that
%   does and the largest difference (differing, first, last, max_abs).
%
%   Errors: drel:read:cannotRead, drel:read:notProtocol, drel:program:notFound.
%
%   See also DREL.READ, DREL.CHECK.
[status, text, err] = drel.internal.run({'diff', '--json', char(a), char(b)});
if status == 2
    drel.internal.refuse_reading(err);
end
found = jsondecode(text);
if isempty(found)
    differences = struct('path', {}, 'a', {}, 'b', {});
elseif iscell(found)
    differences = reshape(found, 1, []);
else
    differences = reshape(num2cell(found), 1, []);
end
if iscell(differences)
    % Differences of several shapes do not make one struct array.
    if all(cellfun(@(d) isequal(fieldnames(d), fieldnames(differences{1})), differences))
        differences = [differences{:}];
    end
end
end
