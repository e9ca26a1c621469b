function [status, out, err] = run(args, stdin_file)
%RUN  Runs the drel program with ARGS (a cell array of char), standard input
%   from STDIN_FILE when given; STATUS is its exit status, OUT and ERR what
%   it wrote to standard output and standard error, as UTF-8 text decoded.
%   Output goes through files: both MATLAB and Octave read those exactly.
command = quote(drel.program());
for k = 1:numel(args)
    command = [command ' ' quote(args{k})]; %#ok<AGROW>
end
out_file = [tempname() '.out'];
err_file = [tempname() '.err'];
cleanup = onCleanup(@() delete_files({out_file, err_file}));
command = [command ' >' quote(out_file) ' 2>' quote(err_file)];
if nargin > 1
    command = [command ' <' quote(stdin_file)];
end
status = system(command);
out = drel.internal.read_text(out_file);
err = drel.internal.read_text(err_file);
end

function q = quote(s)
% One argument for the shell of this system, whatever it holds.
if ispc
    q = ['"' strrep(s, '"', '""') '"'];
else
    q = ['''' strrep(s, '''', '''\''''') ''''];
end
end

function delete_files(files)
for k = 1:numel(files)
    if exist(files{k}, 'file') == 2
        delete(files{k});
    end
end
end
